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
#       LICENSE.txt as Windows text (CR LF, no word that holds only on Linux,
#       no Markdown), the program's icon, version and manifest, and the
#       unpacked ostrivale.exe run on a small recording by README.txt's
#       Command Prompt example in another folder, finding its filters beside
#       itself and writing the Linux program's bytes; its --help as Windows
#       text naming its own folder, and the example there run the same way.
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
if ! { [ -f "$linux_build/CMakeCache.txt" ] || cmake --preset default -B "$linux_build" >/dev/null; } ||
   ! cmake --build "$linux_build" -j2 --target ostrivale >/dev/null; then
  echo "Windows build and tests: FAILED: the Linux program could not be built"
  exit 1
fi
linux_program="$(cd "$linux_build" && pwd)/ostrivale"
if ! cmake --preset windows -B "$build" -DOSTRIVALE_LINUX_PROGRAM="$linux_program" >/dev/null ||
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
  # Windows text: every line ended by CR LF.
  windows_text() {
    [ "$(grep -c $'\r$' "$1")" = "$(wc -l < "$1")" ] && [ -z "$(tail -c 1 "$1")" ] ||
      { echo "FAILED: $2 has lines that do not end in CR LF"; failed=1; }
  }
  # Texts written for Windows: no word that holds only on Linux
  # (packaging/windows/linux_words.txt), a line break within a phrase
  # included.
  no_linux_words() {
    local words
    words="$(tr -s ' \r\n' '   ' < "$1" | grep -o -w -i -F -f <(grep -v -e '^#' -e '^$' packaging/windows/linux_words.txt))"
    [ -z "$words" ] || { echo "FAILED: $2 says what holds only on Linux:" $words; failed=1; }
  }
  windows_text "$work/$top/README.txt" README.txt
  windows_text "$work/$top/LICENSE.txt" LICENSE.txt
  no_linux_words "$work/$top/README.txt" README.txt
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
  # Unpacked anywhere, and started as an example in Command Prompt's syntax
  # says, by wine's cmd, from another folder that holds only the recording:
  # the answers as CR LF lines, the filters found beside the program (on the
  # PATH), the final screen as Windows text, the exit status.
  # run_example WHOSE FOLDER OUTPUT ANSWERS [ARGUMENT]: $work/FOLDER/example.bat
  # against the Linux program given ANSWERS (and ARGUMENT) in a copy of the
  # folder; both must write the same OUTPUT.
  run_example() {
    mkdir "$work/$2-reference"
    cp "$work/$2"/* "$root"/data/Filter?.dat "$work/$2-reference"
    (cd "$work/$2" && WINEPATH="$(winepath -w "$work/$top")" wine cmd /c example.bat > said.txt 2> errors.txt)
    (cd "$work/$2-reference" && printf "$4" | "$linux_program" ${5:+"$5"} > screen.txt 2> errors.txt)
    if ! grep -q 'ostrivale' "$work/$2/example.bat"; then
      echo "FAILED: $1 has no Command Prompt example"
      failed=1
    elif tr -d '\r' < "$work/$2/said.txt" | grep -qx 'not filtered, see above' ||
         ! grep -q 'Job completed in' "$work/$2/screen.txt"; then
      echo "FAILED: the example of $1 did not run the job: $(cat "$work/$2/errors.txt")"
      failed=1
    elif ! cmp -s "$work/$2/$3" "$work/$2-reference/$3"; then
      echo "FAILED: the unpacked ostrivale.exe wrote other bytes than the Linux program"
      failed=1
    else
      windows_text "$work/$2/screen.txt" "the final screen of $1's example"
      echo "$1's Command Prompt example, run from another folder, wrote the Linux program's bytes"
    fi
  }
  mkdir "$work/run"
  (source tests/app/wave_files.sh && canonical 2 96000 5000 11) > "$work/run/in.wav"
  awk '{ sub(/\r$/, "") } /^In Command Prompt/ { found = 1; next }
       found && /^    / { print substr($0, 5) "\r"; code = 1; next } code { exit }' \
      "$work/$top/README.txt" > "$work/run/example.bat"
  run_example README.txt run out.wav 'in.wav\nB\nout.wav\n'
  # --help as Command Prompt shows it in a file: Windows text, the folder the
  # program was unpacked in as the one where the filters are, and an example
  # for Command Prompt that runs its job.
  mkdir "$work/help"
  (cd "$work/help" && WINEPATH="$(winepath -w "$work/$top")" wine cmd /c ostrivale.exe --help > ../help.txt)
  windows_text "$work/help.txt" "--help"
  no_linux_words "$work/help.txt" "--help"
  grep -qxF "  $(winepath -w "$work/$top")\\"$'\r' "$work/help.txt" ||
    { echo "FAILED: --help does not name $(winepath -w "$work/$top")\\ for the filters"; failed=1; }
  (source tests/app/wave_files.sh && canonical 2 192000 5000 12) > "$work/help/take1.wav"
  awk '{ sub(/\r$/, "") } /^Command Prompt:$/ { found = 1; next }
       found && /^  / { print substr($0, 3) "\r"; next } found { exit }' "$work/help.txt" > "$work/help/example.bat"
  run_example "--help" help filtered.wav 'E\nfiltered.wav\n' take1.wav
else
  echo "FAILED: no $zip"
  failed=1
fi

echo "Windows build and tests: $(( $(date +%s) - start )) s, $([ $failed = 0 ] && echo passed || echo FAILED)"
exit $failed
