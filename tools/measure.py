#!/usr/bin/python3
"""Shows how much of a 24-bit PCM wave file's energy lies above 30 kHz.

Usage: tools/measure.py FILE.wav [FILE.wav ...]

For each channel it prints the energy below 20 kHz, from 20 to 30 kHz, from
30 to 48 kHz and, at 192000, above 48 kHz, in dB relative to full scale, so a demo recording and its
filtered version can be compared: the filters leave the chord alone and take
the ultrasonic noise away. Reads the canonical 44-byte header only.
Needs numpy (Debian: python3-numpy).
"""

import struct
import sys

import numpy as np


def read_wave(path):
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 44 or data[0:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise SystemExit("%s: not a RIFF/WAVE file" % path)
    channels, rate = struct.unpack_from("<HI", data, 22)
    bits = struct.unpack_from("<H", data, 34)[0]
    size = struct.unpack_from("<I", data, 40)[0]
    if bits != 24:
        raise SystemExit("%s: %d bits per sample, not 24" % (path, bits))
    raw = np.frombuffer(data[44:44 + size], dtype=np.uint8)
    raw = raw[: len(raw) // (3 * channels) * 3 * channels].reshape(-1, 3).astype(np.int32)
    codes = raw[:, 0] | (raw[:, 1] << 8) | (raw[:, 2] << 16)
    codes = np.where(codes >= 1 << 23, codes - (1 << 24), codes)
    return rate, codes.reshape(-1, channels).T / 8388608.0


def band_levels(x, rate):
    spectrum = np.abs(np.fft.rfft(x * np.hanning(len(x)))) ** 2
    freqs = np.fft.rfftfreq(len(x), 1.0 / rate)
    # Scaled so that the sum over all bins is the mean square of the signal.
    spectrum *= 2.0 / (len(x) * np.sum(np.hanning(len(x)) ** 2))

    def level(lo, hi):
        power = np.sum(spectrum[(freqs >= lo) & (freqs < hi)])
        return 10.0 * np.log10(max(power, 1e-30))

    high = level(48000, rate / 2 + 1) if rate > 96000 else None
    return level(0, 20000), level(20000, 30000), level(30000, 48000), high


def main(paths):
    if not paths:
        print(__doc__.strip())
        return 2
    print("%-28s %3s  %12s  %12s  %12s  %12s" % ("file", "ch", "0-20 kHz", "20-30 kHz", "30-48 kHz",
                                                  ">48 kHz"))
    for path in paths:
        rate, channels = read_wave(path)
        for c, x in enumerate(channels):
            low, middle, ultrasonic, high = band_levels(x, rate)
            print("%-28s %3d  %9.1f dB  %9.1f dB  %9.1f dB  %12s" % (
                path[-28:], c, low, middle, ultrasonic, "-" if high is None else "%9.1f dB" % high))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
