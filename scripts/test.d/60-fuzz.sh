# Stage: fuzzers under AddressSanitizer and UndefinedBehaviorSanitizer, a minute each
# Every folder in fuzz/corpus names a fuzzer and holds its seeds. Each fuzzer
# runs from a scratch copy of its seeds (replaying them first), so that what
# it finds does not grow the committed corpus. An input that breaks an
# invariant, crashes or runs over 10 s fails the stage; it is kept in
# build/fuzz/artifacts.
set -euo pipefail
seconds=${FUZZ_SECONDS:-60}
build=build/fuzz

names=()
for corpus in fuzz/corpus/*/; do names+=("$(basename "$corpus")"); done
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${names[@]/%/_fuzzer}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/artifacts"
for name in "${names[@]}"; do
  fuzzer="$build/fuzz/${name}_fuzzer"
  echo "--- $name: ${seconds} s"
  cp -r "fuzz/corpus/$name" "$scratch/$name"
  if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$name-" "$scratch/$name" >"$scratch/$name.log" 2>&1; then
    tail -n 60 "$scratch/$name.log"
    echo "$name fuzzer failed; its input is in $build/artifacts" >&2
    exit 1
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb' "$scratch/$name.log"
done
