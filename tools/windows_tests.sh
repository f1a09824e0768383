#!/usr/bin/env bash
# The Windows build and its tests under wine:
#   (1) the Linux program (in build/, the reference for the byte comparison)
#       and the cross build in build-windows/ (MinGW-w64, posix threads);
#   (2) every program of it needs no DLL beyond Windows' own;
#   (3) ctest under wine, one persistent wine server for the whole run: the
#       unit test programs of every room, whole jobs of ostrivale.exe against
#       the Linux program (tests/app/jobs_alike.sh), a job killed in its pass
#       that must leave no file behind (tests/app/killed_job.sh), the
#       dialogue and a job in a tmux pane (tests/app/job_in_tmux.sh), the
#       console room's demo;
#   (4) the zip, made by the `packages` target: its contents, README.txt and
#       LICENSE.txt as Windows text (CR LF, no Linux steps, no Markdown), the
#       program's icon, version and manifest, and the unpacked ostrivale.exe
#       run on a small recording by README.txt's Command Prompt example in
#       another folder, finding its filters beside itself and writing the
#       Linux program's bytes.
# Needs the Debian packages g++-mingw-w64-x86-64-posix, wine, wine64 and
# googletest (GoogleTest's sources, built for Windows here), and tmux for the
# pane tests. No display is needed. The first run also creates the wine
# prefix in build-windows/.
#
#   tools/windows_tests.sh                 everything
#   OSTRIVALE_WINDOWS_BUILD_DIR=folder     another Windows build folder
#   OSTRIVALE_BUILD_DIR=folder             another Linux build folder
#
# Exit status 0 when everything passed, 1 when anything failed, 77 when the
# cross compiler, wine or GoogleTest's sources are missing (or 1 then, when
# OSTRIVALE_REQUIRE_WINDOWS=1).
set -u
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="${OSTRIVALE_WINDOWS_BUILD_DIR:-build-windows}"
linux_build="${OSTRIVALE_BUILD_DIR:-build}"
start=$(date +%s)

skip() {
  if [ "${OSTRIVALE_REQUIRE_WINDOWS:-0}" = 1 ]; then
    echo "Windows build and tests: FAILED: $* (OSTRIVALE_REQUIRE_WINDOWS=1)"
    exit 1
  fi
  echo "SKIPPED: $*"
  exit 77
}
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 ||
  skip "no cross compiler (apt-get install g++-mingw-w64-x86-64-posix)"
command -v wine >/dev/null 2>&1 && command -v wineserver >/dev/null 2>&1 ||
  skip "no wine (apt-get install wine wine64)"
[ -f /usr/src/googletest/CMakeLists.txt ] || skip "no GoogleTest sources (apt-get install googletest)"

export WINEDEBUG=-all
export WINEPREFIX="$(mkdir -p "$build" && cd "$build" && pwd)/wine-prefix"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

echo "== the Linux program in $linux_build, the Windows build in $build"
if ! { [ -f "$linux_build/CMakeCache.txt" ] || cmake -S . -B "$linux_build" >/dev/null; } ||
   ! cmake --build "$linux_build" -j2 --target ostrivale >/dev/null; then
  echo "Windows build and tests: FAILED: the Linux program could not be built"
  exit 1
fi
linux_program="$(cd "$linux_build" && pwd)/ostrivale"
if ! cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
       -DOSTRIVALE_LINUX_PROGRAM="$linux_program" >/dev/null ||
   ! cmake --build "$build" -j2; then
  echo "Windows build and tests: BUILD FAILED"
  exit 1
fi

# Windows' own DLLs: the system, the C runtime every Windows has, the window
# manager (message beep, console window). libgcc, libstdc++ and winpthread are
# linked in.
failed=0
while IFS= read -r exe; do
  foreign="$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name/ {print $3}' |
             grep -viE '^(kernel32|msvcrt|user32)\.dll$' || true)"
  if [ -n "$foreign" ]; then
    echo "FAILED: $exe needs DLLs beyond Windows' own: $foreign"
    failed=1
  fi
done < <(find "$build" -name '*.exe' -not -path '*/wine-prefix/*' -not -path '*/CMakeFiles/*')
echo "ostrivale.exe imports: $(x86_64-w64-mingw32-objdump -p "$build/ostrivale.exe" |
                              awk '/DLL Name/ {print $3}' | tr '\n' ' ')"

echo "== tests under wine"
ctest --test-dir "$build" --output-on-failure -j2 || failed=1

echo "== the zip"
version="$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")"
top="ostrivale-${version}-windows-x86_64"
zip="$(cd "$build" && pwd)/packages/$top.zip"
rm -f "$zip"
cmake --build "$build" --target packages >/dev/null || { echo "FAILED: the zip could not be made"; failed=1; }
work="$(mktemp -d "${TMPDIR:-/tmp}/ostrivale-zip.XXXXXX")"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
if [ -f "$zip" ]; then
  want="$(printf "$top/%s\n" ostrivale.exe README.txt LICENSE.txt Filter{A,B,C,D,E,F}.dat | sort)"
  got="$(cmake -E tar tf "$zip" | grep -v '/$' | sort)"
  [ "$got" = "$want" ] || { echo "FAILED: $zip holds other files:"; diff <(echo "$want") <(echo "$got"); failed=1; }
  (cd "$work" && cmake -E tar xf "$zip")
  # The texts as Windows text: every line ended by CR LF. README.txt written
  # for Windows: no step that only Linux has, no Markdown left.
  for text in README.txt LICENSE.txt; do
    if [ "$(grep -c $'\r$' "$work/$top/$text")" != "$(wc -l < "$work/$top/$text")" ] ||
       [ -n "$(tail -c 1 "$work/$top/$text")" ]; then
      echo "FAILED: $text has lines that do not end in CR LF"
      failed=1
    fi
  done
  linux_only='(^|[^a-z])(apt|apt-get|sudo|dpkg|pidof|ls|man|chmod)([^a-z]|$)|/usr/|/etc/|\.deb|\.tar\.gz|kill \$|manual page'
  if grep -nE -i "$linux_only" "$work/$top/README.txt"; then
    echo "FAILED: README.txt names the Linux steps above"
    failed=1
  fi
  if grep -nF -e '](' -e '**' -e '```' "$work/$top/README.txt"; then
    echo "FAILED: README.txt holds the Markdown above"
    failed=1
  fi
  # The program's resources as windres reads them back: the icon, the
  # version of project() as file and product version, the manifest.
  resources="$(x86_64-w64-mingw32-windres -J coff -O rc -i "$work/$top/ostrivale.exe" 2>&1)"
  for wanted in 'RT_GROUP_ICON' "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\"" \
                'RT_MANIFEST' 'level=""asInvoker""' 'longPathAware' 'supportedOS'; do
    grep -qF "$wanted" <<<"$resources" || { echo "FAILED: ostrivale.exe has no $wanted in its resources"; failed=1; }
  done
  # Unpacked anywhere, and started as README.txt's Command Prompt example
  # says, by wine's cmd, from another folder that holds only the recording:
  # the answers as CR LF lines, the filters found beside the program (on the
  # PATH), the exit status.
  mkdir "$work/run" "$work/reference"
  (source tests/app/wave_files.sh && canonical 2 96000 5000 11) > "$work/run/in.wav"
  cp "$work/run/in.wav" "$root/data/FilterB.dat" "$work/reference"
  awk '{ sub(/\r$/, "") } /^In Command Prompt/ { found = 1; next }
       found && /^    / { print substr($0, 5) "\r"; code = 1; next } code { exit }' \
      "$work/$top/README.txt" > "$work/run/example.bat"
  (cd "$work/run" && WINEPATH="$(winepath -w "$work/$top")" wine cmd /c example.bat > said.txt 2> errors.txt)
  (cd "$work/reference" && printf 'in.wav\nB\nout.wav\n' | "$linux_program" > screen.txt 2> errors.txt)
  if ! grep -q 'ostrivale.exe < answers.txt' "$work/run/example.bat"; then
    echo "FAILED: README.txt has no Command Prompt example"
    failed=1
  elif tr -d '\r' < "$work/run/said.txt" | grep -qx 'not filtered, see above' ||
       ! grep -q 'Job completed in' "$work/run/screen.txt"; then
    echo "FAILED: the example of README.txt did not run the job: $(cat "$work/run/errors.txt")"
    failed=1
  elif ! cmp -s "$work/run/out.wav" "$work/reference/out.wav"; then
    echo "FAILED: the unpacked ostrivale.exe wrote other bytes than the Linux program"
    failed=1
  else
    echo "README.txt's Command Prompt example, run from another folder, wrote the Linux program's bytes"
  fi
else
  echo "FAILED: no $zip"
  failed=1
fi

echo "Windows build and tests: $(( $(date +%s) - start )) s, $([ $failed = 0 ] && echo passed || echo FAILED)"
exit $failed
