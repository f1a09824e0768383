#!/usr/bin/env bash
# The Windows build and its tests under wine:
#   (1) configures the cross build in build-windows/ (MinGW-w64, posix threads),
#   (2) builds it and checks that every program needs no DLL beyond Windows' own,
#   (3) runs the tests under wine through ctest: one persistent wine server for
#       the whole run, started and stopped by the ctest fixture (and stopped here
#       too if the run is cut short). Among them console_in_tmux, the console
#       room's demo in a tmux pane under wine (skipped without tmux).
# Needs the Debian packages g++-mingw-w64-x86-64-posix, wine, wine64 and
# googletest (GoogleTest's sources, built for Windows here). No display is
# needed. The first run also creates the wine prefix in build-windows/.
#
#   tools/windows_tests.sh                 everything
#   OSTRIVALE_WINDOWS_BUILD_DIR=folder     another build folder
set -u
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="${OSTRIVALE_WINDOWS_BUILD_DIR:-build-windows}"
start=$(date +%s)

export WINEDEBUG=-all
export WINEPREFIX="$(cd "$root" && mkdir -p "$build" && cd "$build" && pwd)/wine-prefix"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

echo "== configure and build $build"
if ! cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" ||
   ! cmake --build "$build" -j2; then
  echo "Windows build: BUILD FAILED"
  exit 1
fi

# Windows' own DLLs: the system, the C runtime every Windows has, the window
# manager (message beep, console window). libgcc, libstdc++ and winpthread are
# linked in.
failed=0
for exe in "$build"/*.exe; do
  foreign="$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name/ {print $3}' |
             grep -viE '^(kernel32|msvcrt|user32)\.dll$' || true)"
  if [ -n "$foreign" ]; then
    echo "$exe needs DLLs beyond Windows' own: $foreign"
    failed=1
  fi
done

echo "== tests under wine"
ctest --test-dir "$build" --output-on-failure -j2 || failed=1
echo "Windows build and tests: $(( $(date +%s) - start )) s, $([ $failed = 0 ] && echo passed || echo FAILED)"
exit $failed
