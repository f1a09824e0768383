#!/usr/bin/python3
"""Shows how much of each band's energy a filter left in a 24-bit wave file.

Usage: tools/measure.py INPUT.wav FILTERED.wav
       tools/measure.py FILE.wav

Given the input and its filtered output, it prints for each channel what the
filter kept of the energy below 20 kHz, from 20 to 30 kHz, from 30 to 48 kHz
and, at 192000, above 48 kHz: the output's level minus the input's, in dB
(0 dB kept all of it, -60 dB a thousandth of its amplitude; "empty" where the
input holds nothing above the 24-bit noise floor). Given one file, it prints
the level of each band in dB relative to full scale.

It reads 24-bit PCM wave files with any chunk layout: chunks before, between
and after the format and data chunks (bext, LIST, JUNK, ...), a format chunk
of 16, 18 or 40 bytes (the extensible form with the PCM sub-format), RF64
and BW64 with their ds64 chunk. Anything else ends it with one line on
standard error and exit status 1. Needs numpy (Debian: python3-numpy).
"""

import struct
import sys

import numpy as np

# The GUID of the PCM sub-format of the extensible form, as stored.
PCM_SUBFORMAT = bytes.fromhex("0100000000001000800000aa00389b71")
# A 32-bit data size that says "see ds64", or "to the end of the file" when
# there is no ds64 (a writer into a pipe cannot go back to fill it in).
SIZE_IN_DS64 = 0xFFFFFFFF
BANDS = ((0, 20000), (20000, 30000), (30000, 48000), (48000, None))
BAND_NAMES = ("0-20 kHz", "20-30 kHz", "30-48 kHz", ">48 kHz")
# A band of the input below this level holds nothing but the rounding to 24
# bits: what a filter keeps of it says nothing, and is shown as "empty".
EMPTY_BELOW_DBFS = -120.0


class Unreadable(Exception):
    """What makes a file one this tool does not read."""


def sample_format(body):
    """(channels, rate) from the body of a format chunk of 24-bit PCM."""
    if len(body) < 16:
        raise Unreadable("format chunk of %d bytes" % len(body))
    code, channels, rate, _, _, bits = struct.unpack_from("<HHIIHH", body)
    pcm = code == 1 or (code == 0xFFFE and body[24:40] == PCM_SUBFORMAT)
    if not pcm or bits != 24:
        raise Unreadable("not 24-bit PCM (format code 0x%04X, %d bits)" % (code, bits))
    if channels == 0:
        raise Unreadable("no channels")
    return channels, rate


def read_wave(path):
    """(rate, samples as an array of channels scaled to +-1)."""
    with open(path, "rb") as f:
        file_size = f.seek(0, 2)
        f.seek(0)
        head = f.read(12)
        if len(head) < 12 or head[0:4] not in (b"RIFF", b"RF64", b"BW64") or head[8:12] != b"WAVE":
            raise Unreadable("%s: not a RIFF/WAVE file" % path)
        form = None
        data_size_64 = None
        data = None
        # Every chunk in file order, a pad byte after an odd one.
        offset = 12
        while offset + 8 <= file_size:
            f.seek(offset)
            chunk_id, size = struct.unpack("<4sI", f.read(8))
            body = offset + 8
            if chunk_id == b"ds64" and head[0:4] != b"RIFF" and size >= 16:
                data_size_64 = struct.unpack("<QQ", f.read(16))[1]
            elif chunk_id == b"fmt " and form is None:
                try:
                    form = sample_format(f.read(min(size, 40)))
                except Unreadable as problem:
                    raise Unreadable("%s: %s" % (path, problem)) from None
            elif chunk_id == b"data" and data is None:
                if size == SIZE_IN_DS64:
                    size = data_size_64 if data_size_64 is not None else file_size - body
                data = (body, min(size, file_size - body))
            offset = body + size + (size & 1)
        if form is None or data is None:
            raise Unreadable("%s: no %s chunk" % (path, "format" if form is None else "data"))
        channels, rate = form
        frames = data[1] // (3 * channels)
        if frames == 0:
            raise Unreadable("%s: no samples in the data chunk" % path)
        f.seek(data[0])
        raw = np.fromfile(f, dtype=np.uint8, count=frames * 3 * channels)
    raw = raw.reshape(-1, 3).astype(np.int32)
    codes = raw[:, 0] | (raw[:, 1] << 8) | (raw[:, 2] << 16)
    codes = np.where(codes >= 1 << 23, codes - (1 << 24), codes)
    return rate, codes.reshape(-1, channels).T / 8388608.0


def band_powers(x, rate):
    """The mean square of `x` in each band (None for a band above the
    highest frequency), from one Hann-windowed spectrum of the whole."""
    window = np.hanning(len(x))
    spectrum = np.abs(np.fft.rfft(x * window)) ** 2
    freqs = np.fft.rfftfreq(len(x), 1.0 / rate)
    # Scaled so that the sum over all bins is the mean square of the signal.
    spectrum *= 2.0 / (len(x) * max(np.sum(window ** 2), 1e-30))
    powers = []
    for low, high in BANDS:
        if low >= rate / 2:
            powers.append(None)
            continue
        top = rate / 2 + 1 if high is None else high
        powers.append(max(float(np.sum(spectrum[(freqs >= low) & (freqs < top)])), 1e-30))
    return powers


def decibels(ratio):
    """10 log10 of the ratio, to a tenth of a dB, with no "-0.0"."""
    text = "%.1f" % (10.0 * np.log10(ratio))
    return "0.0" if text == "-0.0" else text


def print_rows(rows, unit):
    print("%2s  %s  (%s)" % ("ch", "  ".join("%10s" % name for name in BAND_NAMES), unit))
    for channel, values in enumerate(rows, 1):
        print("%2d  %s" % (channel, "  ".join("%10s" % ("-" if v is None else v) for v in values)))


def show_levels(path):
    rate, channels = read_wave(path)
    print("%s: %d channels at %d Hz, %d frames" % (path, len(channels), rate, channels.shape[1]))
    print_rows([[None if p is None else decibels(p) for p in band_powers(x, rate)] for x in channels],
               "dBFS")


def show_kept(input_path, output_path):
    rate, before = read_wave(input_path)
    output_rate, after = read_wave(output_path)
    if output_rate != rate or len(after) != len(before):
        raise Unreadable("%s: %d channels at %d Hz, but %s has %d at %d Hz" % (
            output_path, len(after), output_rate, input_path, len(before), rate))
    print("kept in %s of %s: output level minus input level" % (output_path, input_path))
    rows = []
    for x, y in zip(before, after):
        # Energies, not mean squares: the output is a few frames longer (the
        # filter's decay), which must not count as lost energy.
        rows.append([None if p is None else "empty" if 10.0 * np.log10(p) < EMPTY_BELOW_DBFS else
                     decibels(q * len(y) / (p * len(x)))
                     for p, q in zip(band_powers(x, rate), band_powers(y, rate))])
    print_rows(rows, "dB")


def main(paths):
    if len(paths) not in (1, 2):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        if len(paths) == 1:
            show_levels(paths[0])
        else:
            show_kept(paths[0], paths[1])
    except Unreadable as problem:
        print("measure.py: %s" % problem, file=sys.stderr)
        return 1
    except OSError as problem:
        print("measure.py: %s: %s" % (problem.filename, problem.strerror), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
