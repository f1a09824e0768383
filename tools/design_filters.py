#!/usr/bin/python3
"""Designs the six low-pass filters of Ostrivale and writes their impulse files.

Every filter is flat from 0 to 20 kHz within +-0.1 dB, has a gain of exactly 1
at 0 Hz, and rolls off the ultrasonic range:

    letter  rate    taps  phase       stop band              attenuation
    B        96000   19   linear      40 kHz .. 48 kHz       >= 60 dB
    F        96000   31   minimum     34 kHz .. 48 kHz       >= 50 dB
    A       192000   17   linear      60 kHz .. 96 kHz       >= 60 dB
    C       192000   17   asymmetric  60 kHz .. 96 kHz       >= 50 dB
    D       192000   15   minimum     48 kHz .. 96 kHz       >= 25 dB
    E       192000   20   minimum     48 kHz .. 96 kHz       >= 35 dB

How each kind is made:
  linear   an equiripple (Parks-McClellan) symmetric design; the stop-band
           weight is searched for the deepest stop band whose pass-band ripple
           stays within half the allowed +-0.1 dB.
  minimum  a symmetric prototype of 2M-1 taps designed for the squared
           response, lifted so that it is never negative on the unit circle,
           and factorised: the M-1 zeros inside the unit circle make the
           filter, whose magnitude is the square root of the prototype's.
  asymmetric
           (C) a symmetric 17-tap design whose complex zeros outside the unit
           circle are reflected inside while the real zero outside stays
           there: the magnitude is unchanged, the delay is shorter than the
           symmetric filter's 8 samples, and the filter is neither linear nor
           minimum phase (mixed phase, in filter-design terms). Of the
           designs that keep 6 dB of margin on the stop band, the one with
           the shortest delay at 0 Hz is taken.

Every filter is divided by the sum of its taps before it is written, so its
gain at 0 Hz is 1. The files hold one value a line with CR LF line ends, 17
significant digits each in plain decimal notation; A, B and C hold the coefficients times 65536.

All measurements are made on the values read back from the written files.
Writes data/Filter?.dat, docs/filter?.png and docs/filters_overview.png,
prints the tables of measured values and puts them in docs/filters.md between
its table markers (the rest of that page is written by hand).

Needs numpy, scipy and matplotlib (Debian: python3-numpy python3-scipy
python3-matplotlib); the tool itself never needs them.

Usage: tools/design_filters.py [--no-plots] [repository folder]
"""

import os
import sys
import warnings

import numpy as np
from scipy import signal

PASS_EDGE = 20000.0
RIPPLE_LIMIT_DB = 0.1
RIPPLE_GOAL_DB = 0.05      # what the designs aim for: half the allowed ripple
CHECK_RADIUS = 1.01        # zeros of a minimum-phase filter lie within this
PASS_POINTS = 4001
STOP_POINTS = 8001

# letter, rate, taps, phase, stop-band start, required attenuation (dB)
FILTERS = [
    ("A", 192000, 17, "linear", 60000.0, 60.0),
    ("B", 96000, 19, "linear", 40000.0, 60.0),
    ("C", 192000, 17, "asymmetric", 60000.0, 50.0),
    ("D", 192000, 15, "minimum", 48000.0, 25.0),
    ("E", 192000, 20, "minimum", 48000.0, 35.0),
    ("F", 96000, 31, "minimum", 34000.0, 50.0),
]
# How the tool's filter question names each kind of phase; pictures and
# tables use the same words.
PHASE_NAMES = {"linear": "linear phase", "minimum": "minimum phase", "asymmetric": "asymmetric"}
SCALED = {"A", "B", "C"}
SCALE = 65536.0

WEIGHTS = np.geomspace(0.1, 1000.0, 61)


# ---------------------------------------------------------------- measuring

def response(h, freqs, rate):
    """The complex response of h at the frequencies (Hz)."""
    n = np.arange(len(h))
    return np.exp(-2j * np.pi * np.outer(freqs / rate, n)) @ np.asarray(h, dtype=float)


def measure(h, rate, stop_edge):
    """Pass-band deviation (min and max dB), stop-band attenuation (dB)."""
    pass_freqs = np.linspace(0.0, PASS_EDGE, PASS_POINTS)
    pass_db = 20.0 * np.log10(np.abs(response(h, pass_freqs, rate)))
    stop_freqs = np.linspace(stop_edge, rate / 2.0, STOP_POINTS)
    stop_mag = np.abs(response(h, stop_freqs, rate))
    attenuation = -20.0 * np.log10(np.max(stop_mag))
    return float(pass_db.min()), float(pass_db.max()), float(attenuation)


def ripple_of(h, rate, stop_edge):
    low, high, _ = measure(h, rate, stop_edge)
    return max(-low, high)


def dc_group_delay(h):
    """Group delay at 0 Hz in samples: sum(n h[n]) / sum(h[n])."""
    return float(np.dot(np.arange(len(h)), h) / np.sum(h))


def delay_at(h, freq, rate):
    """Group delay at `freq` (Hz) in samples."""
    if freq == 0.0:
        return dc_group_delay(h)
    _, delay = signal.group_delay((h, [1.0]), w=np.array([freq]), fs=rate)
    return float(delay[0])


def step_measures(h):
    """How far the step response dips below 0 before it first reaches half
    the step (the pre-ringing a transient gets) and how far it overshoots
    the step afterwards, both in percent of the step."""
    step = np.cumsum(h)
    rise = int(np.argmax(step >= 0.5))
    dip = max(0.0, -float(np.min(step[:rise]))) if rise > 0 else 0.0
    overshoot = max(0.0, float(np.max(step[rise:])) - 1.0)
    return 100.0 * dip, 100.0 * overshoot


def zero_radii(h):
    return np.sort(np.abs(np.roots(h)))


def is_symmetric(h):
    return bool(np.allclose(h, h[::-1], rtol=0.0, atol=1e-12 * np.max(np.abs(h))))


# ---------------------------------------------------------------- designing

def remez(taps, rate, stop_edge, weight):
    """A symmetric equiripple low pass, or None when the exchange fails."""
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        try:
            return signal.remez(taps, [0.0, PASS_EDGE, stop_edge, rate / 2.0], [1.0, 0.0],
                                weight=[1.0, weight], fs=rate, maxiter=100)
        except (RuntimeWarning, UserWarning, ValueError):
            return None


def normalised(h):
    h = np.asarray(h, dtype=float)
    return h / np.sum(h)


def design_linear(taps, rate, stop_edge):
    best = None
    for weight in WEIGHTS:
        h = remez(taps, rate, stop_edge, weight)
        if h is None:
            continue
        h = normalised(h)
        low, high, attenuation = measure(h, rate, stop_edge)
        if max(-low, high) > RIPPLE_GOAL_DB:
            continue
        if best is None or attenuation > best[0]:
            best = (attenuation, h)
    return best[1]


def factorise(prototype, taps):
    """The minimum-phase filter of `taps` taps whose squared magnitude is the
    (non-negative) symmetric prototype of 2*taps-1 taps."""
    roots = np.roots(prototype)
    order = np.argsort(np.abs(roots))
    inside = roots[order[: taps - 1]]
    if np.max(np.abs(inside)) >= 1.0:
        return None
    h = np.real(np.poly(inside))
    return normalised(h)


def design_minimum(taps, rate, stop_edge):
    length = 2 * taps - 1
    grid = np.linspace(0.0, np.pi, 16384)
    best = None
    for weight in WEIGHTS:
        g = remez(length, rate, stop_edge, weight)
        if g is None:
            continue
        # The amplitude of the symmetric prototype, and the lift that makes it
        # non-negative everywhere, so that every zero on the unit circle
        # becomes a pair r, 1/r just off it and the factorisation is clean.
        amplitude = np.real(response(g, grid * rate / (2 * np.pi), rate)
                            * np.exp(1j * grid * (length - 1) / 2))
        lift = max(0.0, -float(amplitude.min())) * 1.02 + 1e-9
        g = g.copy()
        g[taps - 1] += lift
        h = factorise(g, taps)
        if h is None:
            continue
        low, high, attenuation = measure(h, rate, stop_edge)
        if max(-low, high) > RIPPLE_GOAL_DB:
            continue
        if np.max(zero_radii(h)) > 1.0:
            continue
        if best is None or attenuation > best[0]:
            best = (attenuation, h)
    return best[1]


def reflect_complex_zeros(h):
    """Moves every complex zero outside the unit circle to its mirror image
    1/conj(z) inside; real zeros stay where they are. The magnitude response
    keeps its shape (the gain is restored by the normalisation)."""
    roots = np.roots(h)
    moved = []
    for z in roots:
        if abs(z) > 1.0 + 1e-6 and abs(z.imag) > 1e-9:
            z = 1.0 / np.conj(z)
        moved.append(z)
    return normalised(np.real(np.poly(moved)) * h[0])


def design_asymmetric(taps, rate, stop_edge, required):
    best = None
    for weight in WEIGHTS:
        g = remez(taps, rate, stop_edge, weight)
        if g is None:
            continue
        roots = np.roots(g)
        outside_real = [z for z in roots if abs(z) > 1.05 and abs(z.imag) < 1e-9]
        outside_complex = [z for z in roots if abs(z) > 1.05 and abs(z.imag) >= 1e-9]
        if not outside_real or not outside_complex:
            continue   # nothing to reflect, or it would become minimum phase
        h = reflect_complex_zeros(g)
        low, high, attenuation = measure(h, rate, stop_edge)
        if max(-low, high) > RIPPLE_GOAL_DB or attenuation < required + 6.0:
            continue
        delay = dc_group_delay(h)
        if best is None or delay < best[0]:
            best = (delay, h)
    return best[1]


# ---------------------------------------------------------------- files

def positional(value):
    """`value` with exactly 17 significant digits in plain decimal notation."""
    mantissa, exponent = ("%.16e" % value).split("e")
    sign = "-" if mantissa.startswith("-") else ""
    digits = mantissa.lstrip("-").replace(".", "")
    point = int(exponent) + 1          # digits before the decimal point
    if point <= 0:
        return sign + "0." + "0" * -point + digits
    if point >= len(digits):
        return sign + digits + "0" * (point - len(digits))
    return sign + digits[:point] + "." + digits[point:]


def format_file(h, letter):
    """Plain decimal notation with 17 significant digits, trailing zeros
    kept, so that every value reads back as the same 64-bit float."""
    values = np.asarray(h) * (SCALE if letter in SCALED else 1.0)
    lines = [positional(v) for v in values]
    for line, v in zip(lines, values):
        assert float(line) == v, line
    return "".join(line + "\r\n" for line in lines).encode("ascii")


def read_file(path, letter, taps):
    """Reads the values back the way the tool does for a well-formed file."""
    with open(path, "rb") as f:
        text = f.read().decode("ascii")
    fields = text.split("\r\n")
    values = np.array([float(field) for field in fields[:taps]])
    if letter in SCALED:
        values = values / SCALE
    return values


# ---------------------------------------------------------------- pictures

def draw(letter, rate, taps, phase, stop_edge, required, h, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    freqs = np.linspace(0.0, rate / 2.0, 4000)
    mag = np.maximum(np.abs(response(h, freqs, rate)), 1e-12)
    fig, axes = plt.subplots(3, 1, figsize=(8, 9.5))
    fig.suptitle("Filter %s: %d taps, %s, %d samples/s" % (letter, taps, PHASE_NAMES[phase], rate))

    ax = axes[0]
    ax.plot(freqs / 1000.0, 20.0 * np.log10(mag), color="tab:blue")
    ax.axvspan(0.0, PASS_EDGE / 1000.0, color="tab:green", alpha=0.08)
    ax.hlines(-required, stop_edge / 1000.0, rate / 2000.0, colors="tab:red", linestyles="--",
              label="required: %g dB from %g kHz" % (-required, stop_edge / 1000.0))
    ax.set_ylim(-110, 5)
    ax.set_xlim(0, rate / 2000.0)
    ax.set_xlabel("frequency (kHz)")
    ax.set_ylabel("magnitude (dB)")
    ax.grid(True, alpha=0.3)
    ax.legend(loc="upper right", fontsize=8)
    inset = ax.inset_axes([0.06, 0.1, 0.38, 0.42])
    pass_freqs = np.linspace(0.0, PASS_EDGE, 800)
    inset.plot(pass_freqs / 1000.0, 20.0 * np.log10(np.abs(response(h, pass_freqs, rate))),
               color="tab:blue")
    inset.axhline(RIPPLE_LIMIT_DB, color="tab:red", linestyle="--", linewidth=0.8)
    inset.axhline(-RIPPLE_LIMIT_DB, color="tab:red", linestyle="--", linewidth=0.8)
    inset.set_ylim(-0.15, 0.15)
    inset.set_title("pass band 0-20 kHz (dB)", fontsize=8)
    inset.tick_params(labelsize=7)
    inset.grid(True, alpha=0.3)

    ax = axes[1]
    gd_freqs = np.linspace(0.0, stop_edge, 1000)
    _, delay = signal.group_delay((h, [1.0]), w=gd_freqs, fs=rate)
    ax.plot(gd_freqs / 1000.0, delay, color="tab:purple")
    ax.axvspan(0.0, PASS_EDGE / 1000.0, color="tab:green", alpha=0.08)
    ax.set_xlim(0, stop_edge / 1000.0)
    # Right at the stop band a zero close to the unit circle swings the delay
    # far off the scale; the limits come from the part below it.
    shown = delay[gd_freqs <= 0.9 * stop_edge]
    ax.set_ylim(min(0.0, float(np.min(shown)) * 1.15), max(float(np.max(shown)), (taps - 1) / 2.0) * 1.15 + 0.5)
    ax.set_xlabel("frequency (kHz), up to the stop band")
    ax.set_ylabel("group delay (samples)")
    ax.grid(True, alpha=0.3)

    ax = axes[2]
    ax.stem(np.arange(taps), h, basefmt=" ")
    ax.set_xlabel("tap")
    ax.set_ylabel("coefficient")
    ax.grid(True, alpha=0.3)

    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)


def draw_overview(rows, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(1, 2, figsize=(11, 4.2))
    for row in rows:
        letter, rate, h = row["letter"], row["rate"], row["h"]
        ax = axes[0] if rate == 96000 else axes[1]
        freqs = np.linspace(0.0, rate / 2.0, 3000)
        mag = np.maximum(np.abs(response(h, freqs, rate)), 1e-12)
        ax.plot(freqs / 1000.0, 20.0 * np.log10(mag), label="%s (%s)" % (letter, PHASE_NAMES[row["phase"]]))
    for ax, rate in zip(axes, (96000, 192000)):
        ax.set_title("%d samples/s" % rate)
        ax.set_xlim(0, rate / 2000.0)
        ax.set_ylim(-110, 5)
        ax.set_xlabel("frequency (kHz)")
        ax.set_ylabel("magnitude (dB)")
        ax.grid(True, alpha=0.3)
        ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)


# ---------------------------------------------------------------- main

def main(argv):
    plots = "--no-plots" not in argv
    args = [a for a in argv if a != "--no-plots"]
    root = args[0] if args else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    data_dir = os.path.join(root, "data")
    docs_dir = os.path.join(root, "docs")
    os.makedirs(data_dir, exist_ok=True)
    os.makedirs(docs_dir, exist_ok=True)

    rows = []
    failures = []
    for letter, rate, taps, phase, stop_edge, required in FILTERS:
        if phase == "linear":
            h = design_linear(taps, rate, stop_edge)
        elif phase == "minimum":
            h = design_minimum(taps, rate, stop_edge)
        else:
            h = design_asymmetric(taps, rate, stop_edge, required)
        path = os.path.join(data_dir, "Filter%s.dat" % letter)
        with open(path, "wb") as f:
            f.write(format_file(h, letter))

        h = read_file(path, letter, taps)
        low, high, attenuation = measure(h, rate, stop_edge)
        radii = zero_radii(h)
        row = dict(letter=letter, rate=rate, taps=taps, phase=phase, stop_edge=stop_edge,
                   required=required, h=h, low=low, high=high, attenuation=attenuation,
                   sum_error=abs(float(np.sum(h)) - 1.0), delay=dc_group_delay(h),
                   max_radius=float(radii[-1]), symmetric=is_symmetric(h))
        rows.append(row)

        if max(-low, high) > RIPPLE_LIMIT_DB:
            failures.append("%s: pass-band ripple %.4f dB" % (letter, max(-low, high)))
        if attenuation < required:
            failures.append("%s: attenuation %.2f dB < %g dB" % (letter, attenuation, required))
        if row["sum_error"] > 1e-9:
            failures.append("%s: sum differs from 1 by %g" % (letter, row["sum_error"]))
        if phase == "linear" and not row["symmetric"]:
            failures.append("%s: not symmetric" % letter)
        if phase == "minimum" and row["max_radius"] > CHECK_RADIUS:
            failures.append("%s: zero at radius %.4f" % (letter, row["max_radius"]))
        if phase == "asymmetric" and (row["symmetric"] or row["max_radius"] <= CHECK_RADIUS):
            failures.append("%s: not asymmetric (mixed phase)" % letter)

        if plots:
            draw(letter, rate, taps, phase, stop_edge, required, h,
                 os.path.join(docs_dir, "filter%s.png" % letter))

    delay_a = next(r["delay"] for r in rows if r["letter"] == "A")
    delay_c = next(r["delay"] for r in rows if r["letter"] == "C")
    if not delay_c < delay_a:
        failures.append("C: delay %.3f is not less than A's %.3f" % (delay_c, delay_a))
    if plots:
        draw_overview(rows, os.path.join(docs_dir, "filters_overview.png"))

    tables = make_table(rows) + "\n\n" + make_listening_table(rows)
    print(tables)
    if not update_document(os.path.join(docs_dir, "filters.md"), tables):
        failures.append("docs/filters.md: no table markers, tables not written")
    for failure in failures:
        print("FAILED " + failure, file=sys.stderr)
    return 1 if failures else 0


def decibels(value, sign=True):
    """Four decimals, or two significant digits for deviations too small for them."""
    if value != 0.0 and abs(value) < 5e-5:
        return ("%+.1e" if sign else "%.1e") % value
    return ("%+.4f" if sign else "%.4f") % value


def make_table(rows):
    lines = [
        "| Filter | Rate | Taps | Phase | Pass band 0-20 kHz (dB) | Ripple (dB) "
        "| Stop band | Required | Measured attenuation | Delay at 0 Hz (samples) | Largest zero radius |",
        "|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    for r in sorted(rows, key=lambda r: (r["rate"], r["letter"])):
        lines.append("| %s | %d | %d | %s | %s .. %s | ±%s | %g-%g kHz | %g dB | %.1f dB | %.3f | %.4f |" % (
            r["letter"], r["rate"], r["taps"], PHASE_NAMES[r["phase"]], decibels(r["low"]), decibels(r["high"]),
            decibels(max(-r["low"], r["high"]), sign=False), r["stop_edge"] / 1000.0, r["rate"] / 2000.0,
            r["required"], r["attenuation"], r["delay"], r["max_radius"]))
    return "\n".join(lines)


LEVEL_FREQS = (25000.0, 30000.0, 40000.0, 48000.0)


def make_listening_table(rows):
    """What each filter does to the band above 20 kHz and to a transient."""
    lines = [
        "| Filter | Rate | Phase | Level at 25 kHz | 30 kHz | 40 kHz | 48 kHz "
        "| Step: dip before the edge | Step: overshoot after | Delay at 0 Hz | Delay at 20 kHz |",
        "|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    for r in sorted(rows, key=lambda r: (r["rate"], r["letter"])):
        h, rate = r["h"], r["rate"]
        levels = 20.0 * np.log10(np.abs(response(h, np.array(LEVEL_FREQS), rate)))
        dip, overshoot = step_measures(h)
        delays = ["%.1f samples (%.0f µs)" % (d, d / rate * 1e6)
                  for d in (delay_at(h, 0.0, rate), delay_at(h, PASS_EDGE, rate))]
        lines.append("| %s | %d | %s | %s | %.1f %% | %.1f %% | %s | %s |" % (
            r["letter"], rate, PHASE_NAMES[r["phase"]],
            " | ".join("%.1f dB" % level for level in levels), dip, overshoot,
            delays[0], delays[1]))
    return "\n".join(lines)


TABLE_BEGIN = "<!-- BEGIN measured tables: written by tools/design_filters.py -->"
TABLE_END = "<!-- END measured tables -->"


def update_document(path, tables):
    """Puts the tables between the markers of the hand-written page; False
    when the page or its markers are missing."""
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except OSError:
        return False
    begin = text.find(TABLE_BEGIN)
    end = text.find(TABLE_END)
    if begin < 0 or end < begin:
        return False
    text = text[: begin + len(TABLE_BEGIN)] + "\n" + tables + "\n" + text[end:]
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return True


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
