# Stage: fuzzers under AddressSanitizer and UndefinedBehaviorSanitizer, a minute each
# Every folder in fuzz/corpus names a fuzzer and holds its seeds. Each fuzzer
# runs from a scratch copy of its seeds (replaying them first), so that what
# it finds does not grow the committed corpus. An input that breaks an
# invariant, crashes or runs over 10 s fails the stage; it is kept in
# build/fuzz/artifacts. Fuzzers run side by side, one to a processor (at
# most four), each for its full minute.
set -euo pipefail
seconds=${FUZZ_SECONDS:-60}
build=build/fuzz
side_by_side=$(nproc)
((side_by_side > 4)) && side_by_side=4

names=()
for corpus in fuzz/corpus/*/; do names+=("$(basename "$corpus")"); done
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${names[@]/%/_fuzzer}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/artifacts"

fuzz() {
  local name=$1
  cp -r "fuzz/corpus/$name" "$scratch/$name"
  "$build/fuzz/${name}_fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$name-" "$scratch/$name" >"$scratch/$name.log" 2>&1
}

declare -A running=()  # process id -> fuzzer
failed=()
collect() {
  local pid
  wait -n -p pid "${!running[@]}" || failed+=("${running[$pid]}")
  unset "running[$pid]"
}
for name in "${names[@]}"; do
  ((${#running[@]} >= side_by_side)) && collect
  echo "--- $name: ${seconds} s"
  fuzz "$name" &
  running[$!]=$name
done
while ((${#running[@]} > 0)); do collect; done

for name in "${names[@]}"; do
  echo "--- $name"
  grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb' "$scratch/$name.log" || true
done
for name in "${failed[@]}"; do
  tail -n 60 "$scratch/$name.log"
  echo "$name fuzzer failed; its input is in $build/artifacts" >&2
done
((${#failed[@]} == 0))
