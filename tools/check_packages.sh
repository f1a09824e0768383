#!/usr/bin/env bash
# Builds the release packages and checks them the way Debian users meet them:
#   1. the .deb and the .tar.gz hold exactly the expected files;
#   2. lintian finds no error in the .deb (its warnings are printed);
#   3. dpkg -i installs it; the installed program, started from an empty
#      folder by an ordinary user in plain mode, filters a small recording
#      with an impulse file it finds in /usr/share/ostrivale; `man -w` finds
#      the manual page;
#   4. dpkg -r removes it and nothing of it is left.
# The Windows zip is checked by tools/windows_tests.sh, which needs no root.
#
#   tools/check_packages.sh [build folder]     (default build-packages)
#
# Installing needs root, dpkg and lintian: without them the check is skipped
# with exit status 77, or fails when OSTRIVALE_REQUIRE_PACKAGES=1. It is also
# skipped when an ostrivale is installed already, which it would replace.
set -u
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="${1:-build-packages}"

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
skip() {
  if [ "${OSTRIVALE_REQUIRE_PACKAGES:-0}" = 1 ]; then
    echo "FAILED: $* (OSTRIVALE_REQUIRE_PACKAGES=1)"
    exit 1
  fi
  echo "SKIPPED: $*"
  exit 77
}

# ---- Preconditions ----------------------------------------------------------
[ "$(id -u)" = 0 ] || skip "installing the package needs root"
for tool in dpkg dpkg-deb dpkg-shlibdeps file lintian man runuser tar gzip od awk; do
  command -v "$tool" >/dev/null 2>&1 ||
    skip "$tool not found (apt-get install dpkg-dev file lintian man-db)"
done
if dpkg-query -W -f='${db:Status-Status}' ostrivale 2>/dev/null | grep -q '^installed'; then
  skip "a package ostrivale is installed already"
fi
for path in /usr/bin/ostrivale /usr/share/ostrivale /usr/share/doc/ostrivale \
            /usr/share/man/man1/ostrivale.1.gz; do
  [ -e "$path" ] && skip "$path exists already and would be replaced"
done

# ---- Build ------------------------------------------------------------------
echo "== packages in $build/packages"
rm -rf "$build/packages"
if ! cmake --preset packages -B "$build" >/dev/null ||
   ! cmake --build "$build" -j2 --target packages; then
  echo "FAILED: the packages could not be built"
  exit 1
fi
version="$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")"
deb="$build/packages/ostrivale_${version}_amd64.deb"
tgz="$build/packages/ostrivale-${version}-linux-x86_64.tar.gz"

# ---- Contents ---------------------------------------------------------------
# Every file of the installed tree, below /usr.
expected_files() {
  printf '%s\n' usr/bin/ostrivale \
    usr/share/doc/ostrivale/changelog.gz usr/share/doc/ostrivale/copyright \
    usr/share/man/man1/ostrivale.1.gz
  for letter in A B C D E F; do echo "usr/share/ostrivale/Filter$letter.dat"; done
}

# Compares the file list `$2` (one path a line) with the expected one `$3`.
same_files() {
  local label="$1" got="$2" want="$3"
  if [ "$(sort <<<"$got")" != "$(sort <<<"$want")" ]; then
    fail "$label holds other files than expected:"
    diff <(sort <<<"$want") <(sort <<<"$got") | sed 's/^/    /'
  fi
}

if [ ! -f "$deb" ]; then
  fail "no $deb"
else
  same_files "$deb" "$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./||')" \
    "$(expected_files)"
  for field in Maintainer Description Depends; do
    [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "$deb has no $field"
  done
  [ "$(dpkg-deb -f "$deb" Section)" = sound ] || fail "$deb is not in section sound"
  dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "$deb does not depend on libc6"
fi
if [ ! -f "$tgz" ]; then
  fail "no $tgz"
else
  top="ostrivale-${version}-linux-x86_64"
  same_files "$tgz" "$(tar -tzf "$tgz" | grep -v '/$')" "$(expected_files | sed "s|^|$top/|")"
  # lintian checks the .deb's modes; the archive must carry the same ones.
  tar -tzvf "$tgz" | awk '{
      want = $6 ~ /\/$/ ? "drwxr-xr-x" : $6 ~ /\/usr\/bin\/ostrivale$/ ? "-rwxr-xr-x" : "-rw-r--r--"
      if ($1 != want) { print "    " $1 " " $6 ", not " want; bad = 1 }
    } END { exit bad }' || fail "$tgz holds files or folders with other modes than expected"
fi

[ -f "$deb" ] || { echo "== packages: $failures failed"; exit 1; }

# ---- lintian ----------------------------------------------------------------
echo "== lintian $deb"
lintian_out="$(lintian --fail-on error "$deb" 2>&1)"
lintian_status=$?
grep -v 'running with root privileges' <<<"$lintian_out"
[ "$lintian_status" = 0 ] || fail "lintian reports errors"

# ---- Install, run, remove ---------------------------------------------------
# Minimal images may tell dpkg to leave out manual pages and documents; this
# check wants to see them installed.
remove_package() { dpkg -r ostrivale >/dev/null 2>&1; }
work="$(mktemp -d /tmp/ostrivale-packages.XXXXXX)"  # /tmp: reachable by user nobody
trap 'remove_package; rm -rf "$work"' EXIT

echo "== dpkg -i"
if ! dpkg --path-include='/usr/share/man/*' --path-include='/usr/share/doc/ostrivale/*' \
       -i "$deb" >/dev/null; then
  fail "dpkg -i $deb"
  exit 1
fi
installed="$(dpkg -L ostrivale)"

[ "$(command -v ostrivale)" = /usr/bin/ostrivale ] || fail "ostrivale is not /usr/bin/ostrivale on the path"
[ "$(man -w ostrivale 2>/dev/null)" = /usr/share/man/man1/ostrivale.1.gz ] ||
  fail "man -w ostrivale does not find /usr/share/man/man1/ostrivale.1.gz"
man_warnings="$(MANWIDTH=80 man --warnings ostrivale 2>&1 >/dev/null)"
[ -z "$man_warnings" ] || fail "man ostrivale warns: $man_warnings"

# A small stereo recording at 96000 samples per second: one impulse of half
# full scale in the left channel, silence in the right. Filtered with B, the
# left channel of the output is FilterB's coefficients times 2^22 (the file
# holds them times 65536, so the file's values times 64) within the dither.
frames=8
little_endian() {  # value, byte count: printf escapes
  local value=$1 count=$2 k out=""
  for ((k = 0; k < count; k++)); do out+="$(printf '\\x%02x' $(((value >> (8 * k)) & 255)))"; done
  printf '%s' "$out"
}
data=$((frames * 6))
header="RIFF$(little_endian $((36 + data)) 4)WAVEfmt $(little_endian 16 4)$(little_endian 1 2)"
header+="$(little_endian 2 2)$(little_endian 96000 4)$(little_endian $((96000 * 6)) 4)"
header+="$(little_endian 6 2)$(little_endian 24 2)data$(little_endian $data 4)"
samples="$(little_endian 4194304 3)$(little_endian 0 3)"
for ((k = 1; k < frames; k++)); do samples+="$(little_endian 0 6)"; done
chmod 0777 "$work"  # the folder of an ordinary user, who writes the output there
printf "$header$samples" >"$work/in.wav"
chmod 0644 "$work/in.wav"

echo "== the installed program, as user nobody, in an empty folder"
(cd "$work" && printf 'in.wav\nb\nout.wav\n' |
   runuser -u nobody -- ostrivale >"$work/screen.txt" 2>"$work/errors.txt")
status=$?
[ "$status" = 0 ] || fail "the installed program ended with status $status: $(cat "$work/errors.txt")"
[ -s "$work/errors.txt" ] && fail "the installed program wrote errors: $(cat "$work/errors.txt")"
grep -q 'Job completed in' "$work/screen.txt" || fail "no completion report on the final screen"
taps=19
size="$(stat -c %s "$work/out.wav" 2>/dev/null || echo 0)"
[ "$size" = $((44 + (frames + taps - 1) * 6)) ] || fail "out.wav has $size bytes"
# The output's frames as "left right" codes, compared with the coefficients.
od -An -v -tu1 -j44 "$work/out.wav" | tr -s ' \n' '\n\n' | grep -v '^$' |
  awk -v coefficients=/usr/share/ostrivale/FilterB.dat -v taps=$taps '
    BEGIN { for (k = 0; k < taps; k++) { getline line < coefficients; h[k] = line * 64 } }
    { b[n++] = $1 }
    END {
      bad = 0
      for (i = 0; 3 * i + 2 < n; i++) {
        code = b[3 * i] + 256 * b[3 * i + 1] + 65536 * b[3 * i + 2]
        if (code >= 8388608) code -= 16777216
        frame = int(i / 2)
        want = (i % 2 == 0 && frame < taps) ? h[frame] : 0
        if (code - want >= 1.5 || want - code >= 1.5) { print "    frame " frame ": " code ", not " want; bad = 1 }
      }
      exit bad
    }' || fail "the output is not the recording filtered with /usr/share/ostrivale/FilterB.dat"

echo "== dpkg -r"
dpkg -r ostrivale >/dev/null || fail "dpkg -r ostrivale"
dpkg-query -W -f='${db:Status-Status}' ostrivale 2>/dev/null | grep -q '^installed' &&
  fail "ostrivale is still installed"
while IFS= read -r path; do
  [ -f "$path" ] && fail "$path is left after dpkg -r"
done <<<"$installed"
for folder in /usr/share/ostrivale /usr/share/doc/ostrivale; do
  [ -e "$folder" ] && fail "$folder is left after dpkg -r"
done

if [ "$failures" -gt 0 ]; then
  echo "== packages: $failures checks failed"
  exit 1
fi
echo "== packages: $(basename "$deb") and $(basename "$tgz") built, checked, installed, run and removed"
exit 0
