#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz (preset fuzz) and runs each for the
# given number of seconds (default 60), starting from its seed corpus in
# fuzz/corpus/<target>. New inputs found go to build-fuzz/corpus/<target>, so
# the repository's seeds stay as they are; a crash leaves its input in
# build-fuzz/artifacts/. Prints the executions each target ran and exits
# non-zero when a target failed.
#
#   tools/fuzz.sh [seconds]
set -u
seconds="${1:-60}"
case "$seconds" in
  ''|*[!0-9]*) echo "usage: tools/fuzz.sh [seconds]" >&2; exit 2 ;;
esac

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
cxx="${OSTRIVALE_FUZZ_CXX:-clang++}"
if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "fuzz: $cxx not found (Debian: apt-get install clang libclang-rt-14-dev)" >&2
  exit 2
fi

targets="fuzz_header fuzz_impulse fuzz_keys"
(cd "$root" && cmake --preset fuzz -DCMAKE_CXX_COMPILER="$cxx" >/dev/null) ||
  { echo "fuzz: configure failed" >&2; exit 1; }
(cd "$root" && cmake --build --preset fuzz) ||
  { echo "fuzz: build failed" >&2; exit 1; }

failed=0
summary=""
for target in $targets; do
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target/"
  log="$build/$target.log"
  mkdir -p "$corpus" "$artifacts"
  echo "fuzz: running $target for $seconds s"
  # A fresh process per target; the seeds are read, new inputs written to
  # the corpus folder in the build tree.
  "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="$artifacts" "$corpus" "$root/fuzz/corpus/$target" \
    >"$log" 2>&1
  status=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "fuzz: $target FAILED (status $status); last lines of $log:"
    tail -n 40 "$log"
    summary="$summary$target: FAILED after ${runs:-?} executions (see $log)"$'\n'
  else
    summary="$summary$target: ${runs:-?} executions, no finding"$'\n'
  fi
done
printf '%s' "$summary"
exit "$failed"
