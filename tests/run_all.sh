#!/usr/bin/env bash
# The project's one test command, each build made from its preset in
# CMakePresets.json: first the check that every C++ file is as .clang-format
# lays it out (tools/check_format.sh; skipped without clang-format, or failed
# when OSTRIVALE_REQUIRE_FORMAT=1), then
#   (a) the normal build (preset default) and its whole test suite,
#   (b) the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer
#       (preset sanitize),
#   (c) the streaming pass and whole jobs built with ThreadSanitizer (preset
#       thread): the pass runs on every core,
#   (d) a short run of each fuzz target (preset fuzz, when clang is there),
#   (e) the Debian package and the Linux archive: built, checked with lintian,
#       installed, run, removed (tools/check_packages.sh, preset packages);
#   (f) the Windows build (preset windows) and its tests under wine: every
#       room's unit tests, whole jobs against the Linux program of (a), the
#       dialogue in tmux, the zip (tools/windows_tests.sh).
# Exits non-zero when any part fails. Needs the Debian packages cmake, make,
# g++, libgtest-dev, libgmock-dev and tmux; for (d) also clang and
# libclang-rt-14-dev (without clang the fuzz part is skipped, or fails when
# OSTRIVALE_REQUIRE_FUZZ=1); for (e) root and dpkg-dev, lintian, man-db and
# file (without them the package part is skipped, or fails when
# OSTRIVALE_REQUIRE_PACKAGES=1); for (f) g++-mingw-w64-x86-64-posix, wine,
# wine64 and googletest (without them the Windows part is skipped, or fails
# when OSTRIVALE_REQUIRE_WINDOWS=1).
#
#   tests/run_all.sh            everything, fuzz targets 10 s each
#   OSTRIVALE_WERROR=1          every build with warnings as errors (CI)
#   OSTRIVALE_FUZZ_SECONDS=60   longer fuzz runs
#   OSTRIVALE_SKIP_SANITIZE=1   leave out (b); OSTRIVALE_SKIP_THREAD=1 leaves out (c);
#   OSTRIVALE_SKIP_FUZZ=1 leaves out (d); OSTRIVALE_SKIP_PACKAGES=1 leaves out (e);
#   OSTRIVALE_SKIP_WINDOWS=1 leaves out (f)
set -u
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
fuzz_seconds="${OSTRIVALE_FUZZ_SECONDS:-10}"

results=()
failed=0

# Adds the seconds a part took to its line of the summary.
part_start=$SECONDS
timed() {
  local last=$((${#results[@]} - 1))
  results[$last]="${results[$last]} [$((SECONDS - part_start)) s]"
  part_start=$SECONDS
}

# Runs ctest in `$1` (with the further ctest arguments after the label),
# keeps the summary lines for the report at the end.
run_ctest() {
  local folder="$1" label="$2" log
  shift 2
  log="$(mktemp)"
  if [ $# -gt 0 ]; then
    ctest "$@" 2>&1 | tee "$log"
  else
    ctest --test-dir "$folder" --output-on-failure -j2 2>&1 | tee "$log"
  fi
  local status=${PIPESTATUS[0]}
  local summary
  summary="$(grep -E 'tests passed|tests failed' "$log" | tail -n 1)"
  rm -f "$log"
  if [ "$status" -ne 0 ]; then
    failed=1
    results+=("$label: FAILED ($summary)")
  else
    results+=("$label: $summary")
  fi
}

part_start=$SECONDS
echo "== the tree against its formatter"
format_out="$("$root/tools/check_format.sh" 2>&1)"
case $? in
  0) results+=("format: $format_out") ;;
  77) results+=("format: $format_out") ;;
  *)
    printf '%s\n' "$format_out"
    failed=1
    results+=("format: FAILED ($(grep -c '^  ' <<<"$format_out") files)")
    ;;
esac
timed

part_start=$SECONDS
echo "== (a) normal build and tests in build"
if cmake --preset default && cmake --build --preset default; then
  run_ctest build "normal build"
else
  failed=1
  results+=("normal build: BUILD FAILED")
fi
timed

if [ "${OSTRIVALE_SKIP_SANITIZE:-0}" != 1 ]; then
  part_start=$SECONDS
  echo "== (b) sanitizer build and tests in build-asan"
  # Leaks, bad frees and undefined behaviour all end the test that meets them.
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
  if cmake --preset sanitize && cmake --build --preset sanitize; then
    run_ctest build-asan "sanitizer build"
  else
    failed=1
    results+=("sanitizer build: BUILD FAILED")
  fi
  timed
fi

if [ "${OSTRIVALE_SKIP_THREAD:-0}" != 1 ]; then
  part_start=$SECONDS
  echo "== (c) thread sanitizer build of the pass and the job, and their tests, in build-tsan"
  # A data race ends the program or the test that meets it (exit status 66).
  export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
  if cmake --preset thread && cmake --build --preset thread; then
    run_ctest build-tsan "thread sanitizer" --preset thread
  else
    failed=1
    results+=("thread sanitizer: BUILD FAILED")
  fi
  timed
fi

if [ "${OSTRIVALE_SKIP_FUZZ:-0}" != 1 ]; then
  part_start=$SECONDS
  echo "== (d) fuzz smoke run, $fuzz_seconds s per target"
  if command -v clang++ >/dev/null 2>&1; then
    if fuzz_out="$("$root/tools/fuzz.sh" "$fuzz_seconds" 2>&1)"; then
      results+=("fuzz: $(printf '%s' "$fuzz_out" | grep -E '^fuzz_[a-z]+: ' | tr '\n' ';' | sed 's/;$//')")
    else
      printf '%s\n' "$fuzz_out"
      failed=1
      results+=("fuzz: FAILED")
    fi
  elif [ "${OSTRIVALE_REQUIRE_FUZZ:-0}" = 1 ]; then
    failed=1
    results+=("fuzz: clang++ not found (apt-get install clang libclang-rt-14-dev)")
  else
    results+=("fuzz: skipped, clang++ not found")
  fi
  timed
fi

if [ "${OSTRIVALE_SKIP_PACKAGES:-0}" != 1 ]; then
  part_start=$SECONDS
  echo "== (e) packages in build-packages"
  package_out="$("$root/tools/check_packages.sh" build-packages 2>&1)"
  package_status=$?
  printf '%s\n' "$package_out"
  case "$package_status" in
    0) results+=("packages: built, no lintian errors, installed, run and removed") ;;
    77) results+=("packages: $(grep '^SKIPPED: ' <<<"$package_out" | tail -n 1)") ;;
    *)
      failed=1
      results+=("packages: FAILED ($(printf '%s' "$package_out" | grep -c '^FAILED') checks)")
      ;;
  esac
  timed
fi

if [ "${OSTRIVALE_SKIP_WINDOWS:-0}" != 1 ]; then
  part_start=$SECONDS
  echo "== (f) Windows build and tests under wine in build-windows"
  windows_log="$(mktemp)"
  "$root/tools/windows_tests.sh" 2>&1 | tee "$windows_log"
  windows_status=${PIPESTATUS[0]}
  case "$windows_status" in
    0) results+=("windows: $(grep -E 'tests passed|tests failed' "$windows_log" | tail -n 1), zip checked") ;;
    77) results+=("windows: $(grep '^SKIPPED: ' "$windows_log" | tail -n 1)") ;;
    *)
      failed=1
      results+=("windows: FAILED ($(grep -E 'tests failed|^FAILED' "$windows_log" | tr '\n' ' ')$(tail -n 1 "$windows_log"))")
      ;;
  esac
  timed
  rm -f "$windows_log"
fi

echo "== summary"
for line in "${results[@]}"; do echo "$line"; done
exit "$failed"
