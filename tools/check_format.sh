#!/usr/bin/env bash
# Checks that every C++ file of the tree is as .clang-format lays it out,
# and names those that are not (`clang-format -i FILE` mends one).
#
#   tools/check_format.sh
#
# Exit status 0 when all are, 1 when any is not, 77 when clang-format is
# missing (Debian package clang-format), or 1 then when
# OSTRIVALE_REQUIRE_FORMAT=1.
set -u
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
formatter="${OSTRIVALE_CLANG_FORMAT:-clang-format}"
if ! command -v "$formatter" >/dev/null 2>&1; then
  echo "SKIPPED: no $formatter (apt-get install clang-format)"
  [ "${OSTRIVALE_REQUIRE_FORMAT:-0}" = 1 ] && exit 1
  exit 77
fi
if [ -d .git ] || git rev-parse --git-dir >/dev/null 2>&1; then
  files="$(git ls-files '*.cpp' '*.h')"
else
  files="$(find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||' | sort)"
fi
unformatted=()
for file in $files; do
  "$formatter" --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if [ "${#unformatted[@]}" -gt 0 ]; then
  echo "FAILED: not as .clang-format lays them out (clang-format -i mends them):"
  printf '  %s\n' "${unformatted[@]}"
  exit 1
fi
echo "formatted: $(printf '%s\n' $files | wc -l) files as .clang-format lays them out"
