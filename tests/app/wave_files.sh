# Wave files written by the shell for the program tests (tests/app/*.sh):
# little-endian fields, repeatable samples, format chunks and the canonical
# 44-byte layout. Sourced; each function writes bytes to standard output.

# le VALUE WIDTH: VALUE as WIDTH little-endian bytes.
le() {
  local k
  for ((k = 0; k < $2; k++)); do printf "\\x$(printf %02x $((($1 >> (8 * k)) & 255)))"; done
}

# samples COUNT SEED: COUNT 24-bit samples, a repeatable sequence over the
# whole range.
samples() {
  LC_ALL=C awk -v n="$1" -v s="$2" 'BEGIN {
    for (i = 0; i < n; i++) {
      s = (s * 69069 + 1) % 4294967296
      v = int(s / 256)
      printf "%c%c%c", v % 256, int(v / 256) % 256, int(v / 65536)
    }
  }'
}

# fmt CHANNELS RATE [EXTRA]: a format chunk of 16 bytes, or 18 with a zero
# extension size when EXTRA is given.
fmt() {
  local size=16
  [ -n "${3:-}" ] && size=18
  printf 'fmt '; le $size 4; le 1 2; le "$1" 2; le "$2" 4; le $(($2 * 3 * $1)) 4; le $((3 * $1)) 2; le 24 2
  [ -n "${3:-}" ] && le 0 2
}

# canonical CHANNELS RATE FRAMES SEED: the 44-byte layout.
canonical() {
  local bytes=$(($3 * 3 * $1))
  printf 'RIFF'; le $((bytes + 36)) 4; printf 'WAVE'; fmt "$1" "$2"; printf 'data'; le $bytes 4
  samples $(($3 * $1)) "$4"
}

# extensible_fmt CHANNELS RATE: a format chunk of 40 bytes in the extensible
# form (code FFFE, 22-byte extension, 24 valid bits, the PCM sub-format), as
# ffmpeg, sox and libsndfile write 24-bit files.
extensible_fmt() {
  printf 'fmt '; le 40 4; le 65534 2; le "$1" 2; le "$2" 4; le $(($2 * 3 * $1)) 4; le $((3 * $1)) 2; le 24 2
  le 22 2; le 24 2; le 3 4; printf '\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71'
}
