#!/usr/bin/env bash
# Runs the README's two commands in a clean Debian 12 root, as a newcomer's
# machine would: a minimal debootstrap root (built once from this machine's own
# Debian mirror, then kept as a tarball outside the tree), a fresh copy of it
# for every run, the current commit cloned into it, and each command run by
# chroot with an empty environment, as root.
#
#   scripts/clean-machine.sh            both commands
#   KEEP_CLEAN_ROOT=1 scripts/clean-machine.sh   leave the used root for a look
#
# Exit status: 0 when both commands succeeded, 1 when one failed, 2 when the
# clean root could not be made. Nothing stays mounted, whatever happened.
set -uo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

cache=${RS232C_CLEAN_ROOT_CACHE:-/var/cache/rs232c/clean-root}
tarball=$cache/bookworm-minbase.tar
work=""
root=""
mounted=()

say() { printf '%s\n' "$*"; }
cannot() { say "clean-machine: cannot make the clean root: $*" >&2; exit 2; }

[ "$(id -u)" -eq 0 ] || cannot "it needs root (chroot, mount, debootstrap): run it with sudo"

# Processes still running inside the root (a wineserver, Xvfb, socat) would
# keep its mounts busy; they are ended by their own ids.
stop_processes_in_root() {
  local pid link
  for pid in /proc/[0-9]*; do
    link=$(readlink "$pid/root" 2>/dev/null) || continue
    [ "$link" = "$root" ] && kill -KILL "${pid#/proc/}" 2>/dev/null
  done
  return 0
}

clean_up() {
  local status=$?
  if [ -n "$root" ]; then
    stop_processes_in_root
    sleep 1
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
      umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null ||
        say "clean-machine: could not unmount ${mounted[i]}" >&2
    done
  fi
  if [ -n "$work" ]; then
    if [ -n "${KEEP_CLEAN_ROOT:-}" ]; then
      say "The used root is kept in $root"
    else
      rm -rf --one-file-system "$work"
    fi
  fi
  exit "$status"
}
trap clean_up EXIT
trap 'exit 130' INT TERM

# --- The cached minimal root ------------------------------------------------
debian_mirror() {
  # The first Debian archive this machine's apt sources name for bookworm.
  local file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    sed 's/\[[^]]*\]//' "$file" | awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }'
  done
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk 'function stanza_end() { if (suite && uri != "" && enabled && !found) { print uri; found = 1 }
                                 suite = 0; uri = ""; enabled = 1 }
         BEGIN { enabled = 1 }
         /^[ \t]*$/ { stanza_end(); next }
         /^URIs:/ { uri = $2 }
         /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == "bookworm") suite = 1 }
         /^Enabled:[ \t]*no/ { enabled = 0 }
         END { stanza_end() }' "$file"
  done
}

build_cached_root() {
  command -v debootstrap >/dev/null || {
    say "Installing debootstrap"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap >/dev/null ||
      { apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap >/dev/null; } ||
      cannot "debootstrap could not be installed"
  }
  local mirror
  mirror=$(debian_mirror | head -n 1)
  [ -n "$mirror" ] || cannot "no Debian bookworm archive in this machine's apt sources"
  say "Building the minimal Debian 12 root from $mirror (once; kept in $cache)"
  mkdir -p "$cache" || cannot "cannot create $cache"
  local fresh
  fresh=$(mktemp -d "$cache/debootstrap.XXXXXX") || cannot "cannot create a folder in $cache"
  if ! debootstrap --variant=minbase bookworm "$fresh/root" "$mirror" >"$fresh/debootstrap.log" 2>&1; then
    tail -n 20 "$fresh/debootstrap.log" >&2
    rm -rf --one-file-system "$fresh"
    cannot "debootstrap failed (its log is above)"
  fi
  tar -C "$fresh/root" -cf "$tarball.partial" . && mv "$tarball.partial" "$tarball" ||
    { rm -rf --one-file-system "$fresh"; cannot "cannot write $tarball"; }
  rm -rf --one-file-system "$fresh"
}

[ -f "$tarball" ] || build_cached_root

# --- A fresh root for this run ----------------------------------------------
work=$(mktemp -d /var/tmp/rs232c-clean-machine.XXXXXX) || cannot "cannot create a work folder in /var/tmp"
root=$work/root
mkdir "$root" && tar -C "$root" -xf "$tarball" || cannot "cannot unpack $tarball"

# The same Debian archives as this machine, and its name resolution.
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -f "$file" ] && grep -q bookworm "$file" && cp "$file" "$root$file"
done
cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

commit=$(git -C "$repo" rev-parse HEAD) || cannot "$repo is not a git checkout"
git clone -q --no-hardlinks "$repo" "$root/root/rs232c" && git -C "$root/root/rs232c" checkout -q --detach "$commit" ||
  cannot "cannot clone $commit into the root"

mount_in_root() {  # TARGET (inside the root), then mount's arguments
  local target=$root$1
  shift
  mkdir -p "$target"
  mount "$@" "$target" || cannot "cannot mount $target"
  mounted+=("$target")
}
mount_in_root /proc -t proc proc
mount_in_root /sys -t sysfs sysfs
# The machine's devices, in a mount of the root's own: what is mounted below
# it (a pseudo-terminal instance, a tmpfs) must not reach the machine's /dev.
mount_in_root /dev --bind /dev
mount --make-private "$root/dev" || cannot "cannot make the root's /dev private"
mount_in_root /dev/pts -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts
mount --bind "$root/dev/pts/ptmx" "$root/dev/ptmx" || cannot "cannot point /dev/ptmx at the new instance"
mounted+=("$root/dev/ptmx")
mount_in_root /dev/shm -t tmpfs -o mode=1777 tmpfs
# 32-bit programs run through the kernel's binfmt_misc, which has no namespace:
# the root sees the machine's entries, as its setup must.
if [ -d /proc/sys/fs/binfmt_misc ]; then
  mount_in_root /proc/sys/fs/binfmt_misc -t binfmt_misc binfmt_misc
fi

# --- The README's two commands ------------------------------------------------
run_in_root() {  # NAME COMMAND
  local name=$1 command=$2 started status
  say ""
  say "=== $name: $command ==="
  started=$(date +%s)
  chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -c "cd /root/rs232c && $command" </dev/null
  status=$?
  local seconds=$(($(date +%s) - started))
  results+=("$name ($command): $([ $status -eq 0 ] && echo passed || echo "FAILED, exit $status") in $((seconds / 60)) min $((seconds % 60)) s")
  return $status
}

results=()
overall=0
run_in_root "Command 1" "scripts/demo.sh" || overall=1
run_in_root "Command 2" "scripts/test.sh" || overall=1

say ""
say "=== Clean Debian 12 root, commit ${commit:0:12} ==="
for line in "${results[@]}"; do say "$line"; done
say "Disk used by the root: $(du -sh --one-file-system "$root" 2>/dev/null | cut -f1)"
exit $overall
