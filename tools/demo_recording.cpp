// Demo recordings: synthesised chords with ultrasonic noise, written as
// canonical 24-bit PCM wave files.

#include "tools/demo_recording.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------- noise

// SplitMix64: small, fast, and the same sequence on every platform.
std::uint64_t NextRandom(std::uint64_t& state) {
  state += 0x9E3779B97F4A7C15ull;
  std::uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Uniform on [-1, 1).
double UniformNoise(std::uint64_t& state) {
  return static_cast<double>(NextRandom(state) >> 11) * 0x1.0p-52 - 1.0;
}

// A linear-phase high pass by the windowed-sinc method (Blackman window):
// about 74 dB down in its stop band, with a transition about 5.5 * rate /
// taps wide centred on `cutoffHz`.
void DesignHighPass(int sampleRate, double cutoffHz, int taps, double* h) {
  const double fc = cutoffHz / sampleRate;
  const int centre = (taps - 1) / 2;
  double sum = 0.0;
  for (int n = 0; n < taps; ++n) {
    const double x = n - centre;
    const double sinc = (n == centre) ? 2.0 * fc : std::sin(2.0 * kPi * fc * x) / (kPi * x);
    const double phase = 2.0 * kPi * n / (taps - 1);
    const double window = 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase);
    h[n] = sinc * window;
    sum += h[n];
  }
  // Low pass of gain 1 at 0 Hz, then high pass = delay minus low pass.
  for (int n = 0; n < taps; ++n) h[n] = -h[n] / sum;
  h[centre] += 1.0;
}

// Adds `level` RMS of high-passed white noise to `out`, seeded by `seed`.
bool AddUltrasonicNoise(int sampleRate, int frameCount, std::uint64_t seed, double level,
                        double* out) {
  // About 2 kHz of transition at either rate.
  const int taps = sampleRate >= 192000 ? 511 : 255;
  const double cutoff = kDemoNoiseEdgeHz + 1500.0;
  const std::size_t noiseCount =
      static_cast<std::size_t>(frameCount) + static_cast<std::size_t>(taps) - 1;
  double* h = static_cast<double*>(std::calloc(static_cast<std::size_t>(taps), sizeof(double)));
  double* white = static_cast<double*>(std::calloc(noiseCount, sizeof(double)));
  if (h == nullptr || white == nullptr) {
    std::free(h);
    std::free(white);
    return false;
  }
  DesignHighPass(sampleRate, cutoff, taps, h);
  double energy = 0.0;
  for (int n = 0; n < taps; ++n) energy += h[n] * h[n];
  // Uniform noise on [-1, 1) has a variance of 1/3.
  const double gain = level / std::sqrt(energy / 3.0);

  std::uint64_t state = seed;
  for (std::size_t i = 0; i < noiseCount; ++i) white[i] = UniformNoise(state);

  const int fade = sampleRate / 50;  // 20 ms in and out
  for (int i = 0; i < frameCount; ++i) {
    double acc = 0.0;
    const double* w = white + i;
    for (int n = 0; n < taps; ++n) acc += h[n] * w[taps - 1 - n];
    double envelope = 1.0;
    if (i < fade) envelope = static_cast<double>(i) / fade;
    if (frameCount - 1 - i < fade) envelope = static_cast<double>(frameCount - 1 - i) / fade;
    out[i] += gain * acc * envelope;
  }
  std::free(h);
  std::free(white);
  return true;
}

// ---------------------------------------------------------------- chords

constexpr int kNotesPerChord = 4;
constexpr int kHarmonics = 6;
constexpr double kNoteLevel = 0.06;  // each note's fundamental at its attack
constexpr double kAttackSeconds = 0.008;
constexpr double kReleaseSeconds = 0.04;
constexpr double kDecaySeconds = 1.6;  // of the fundamental; harmonic k decays k times faster

// MIDI note numbers: A minor (A3 C4 E4 A4), then C major (C4 E4 G4 C5).
constexpr int kChordNotes[2][kNotesPerChord] = {{57, 60, 64, 69}, {60, 64, 67, 72}};
// The left channel leans to the low notes, the right one to the high notes,
// and the right one is tuned about 1.2 cents sharp.
constexpr double kVoicing[kDemoChannels][kNotesPerChord] = {{1.0, 0.85, 0.75, 0.6},
                                                            {0.6, 0.75, 0.85, 1.0}};
constexpr double kTuning[kDemoChannels] = {1.0, 1.0007};

double NoteFrequency(int midiNote) { return 440.0 * std::pow(2.0, (midiNote - 69) / 12.0); }

void AddChord(int sampleRate, int firstFrame, int endFrame, const int (&notes)[kNotesPerChord],
              int channel, double* out) {
  const double length = static_cast<double>(endFrame - firstFrame) / sampleRate;
  double harmonicLevel[kHarmonics];
  for (int k = 0; k < kHarmonics; ++k) harmonicLevel[k] = std::pow(k + 1.0, -1.3);
  for (int note = 0; note < kNotesPerChord; ++note) {
    const double f = NoteFrequency(notes[note]) * kTuning[channel];
    const double level = kNoteLevel * kVoicing[channel][note];
    for (int i = firstFrame; i < endFrame; ++i) {
      const double t = static_cast<double>(i - firstFrame) / sampleRate;
      double envelope = 1.0;
      if (t < kAttackSeconds) envelope = 0.5 - 0.5 * std::cos(kPi * t / kAttackSeconds);
      const double remaining = length - t;
      if (remaining < kReleaseSeconds)
        envelope *= 0.5 - 0.5 * std::cos(kPi * remaining / kReleaseSeconds);
      double value = 0.0;
      for (int k = 0; k < kHarmonics; ++k) {
        const double decay = std::exp(-t * (k + 1) / kDecaySeconds);
        value += harmonicLevel[k] * decay * std::sin(2.0 * kPi * f * (k + 1) * t);
      }
      out[i] += level * envelope * value;
    }
  }
}

void PutLittleEndian(std::uint8_t* p, std::uint32_t value, int bytes) {
  for (int b = 0; b < bytes; ++b) p[b] = static_cast<std::uint8_t>(value >> (8 * b));
}

}  // namespace

void BuildDemoHeader(int sampleRate, std::uint32_t frameCount,
                     std::uint8_t (&header)[kDemoHeaderSize]) {
  const std::uint32_t blockAlign = kDemoChannels * kDemoBytesPerSample;
  const std::uint32_t dataSize = frameCount * blockAlign;
  std::memcpy(header + 0, "RIFF", 4);
  PutLittleEndian(header + 4, 36u + dataSize, 4);
  std::memcpy(header + 8, "WAVE", 4);
  std::memcpy(header + 12, "fmt ", 4);
  PutLittleEndian(header + 16, 16u, 4);
  PutLittleEndian(header + 20, 1u, 2);  // PCM
  PutLittleEndian(header + 22, kDemoChannels, 2);
  PutLittleEndian(header + 24, static_cast<std::uint32_t>(sampleRate), 4);
  PutLittleEndian(header + 28, static_cast<std::uint32_t>(sampleRate) * blockAlign, 4);
  PutLittleEndian(header + 32, blockAlign, 2);
  PutLittleEndian(header + 34, 8u * kDemoBytesPerSample, 2);
  std::memcpy(header + 36, "data", 4);
  PutLittleEndian(header + 40, dataSize, 4);
}

bool MakeDemoSignal(int sampleRate, int frameCount, double* left, double* right) {
  double* channels[kDemoChannels] = {left, right};
  const int half = frameCount / 2;
  for (int c = 0; c < kDemoChannels; ++c) {
    for (int i = 0; i < frameCount; ++i) channels[c][i] = 0.0;
    AddChord(sampleRate, 0, half, kChordNotes[0], c, channels[c]);
    AddChord(sampleRate, half, frameCount, kChordNotes[1], c, channels[c]);
    const std::uint64_t seed = 0x4F5354524956414Cull + static_cast<std::uint64_t>(c);
    if (!AddUltrasonicNoise(sampleRate, frameCount, seed, kDemoNoiseLevel, channels[c]))
      return false;
  }
  return true;
}

std::int32_t DemoSampleCode(double value) {
  const double scaled = std::nearbyint(value * 8388608.0);
  if (std::isnan(scaled)) return 0;
  if (scaled < -8388608.0) return -8388608;
  if (scaled > 8388607.0) return 8388607;
  return static_cast<std::int32_t>(scaled);
}

bool WriteDemoRecording(const std::string& path, int sampleRate, double seconds) {
  const double frames = std::floor(seconds * sampleRate);
  if (!(frames >= 1.0 && frames <= 100000000.0)) {
    std::fprintf(stderr, "make_demo: %g seconds at %d is not a length it makes\n", seconds,
                 sampleRate);
    return false;
  }
  const int frameCount = static_cast<int>(frames);
  const std::size_t count = static_cast<std::size_t>(frameCount);
  const std::size_t dataSize = count * kDemoChannels * kDemoBytesPerSample;
  double* left = static_cast<double*>(std::calloc(count, sizeof(double)));
  double* right = static_cast<double*>(std::calloc(count, sizeof(double)));
  std::uint8_t* bytes = static_cast<std::uint8_t*>(std::calloc(kDemoHeaderSize + dataSize, 1));
  bool ok = left != nullptr && right != nullptr && bytes != nullptr &&
            MakeDemoSignal(sampleRate, frameCount, left, right);
  if (!ok) std::fprintf(stderr, "make_demo: out of memory\n");

  if (ok) {
    std::uint8_t header[kDemoHeaderSize];
    BuildDemoHeader(sampleRate, static_cast<std::uint32_t>(frameCount), header);
    std::memcpy(bytes, header, kDemoHeaderSize);
    std::uint8_t* p = bytes + kDemoHeaderSize;
    for (std::size_t i = 0; i < count; ++i) {
      for (const double* channel : {left, right}) {
        PutLittleEndian(p, static_cast<std::uint32_t>(DemoSampleCode(channel[i])),
                        kDemoBytesPerSample);
        p += kDemoBytesPerSample;
      }
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ok = file != nullptr;
    if (ok) {
      ok = std::fwrite(bytes, 1, kDemoHeaderSize + dataSize, file) == kDemoHeaderSize + dataSize;
      ok = (std::fclose(file) == 0) && ok;
    }
    if (!ok) std::fprintf(stderr, "make_demo: cannot write %s\n", path.c_str());
  }
  std::free(left);
  std::free(right);
  std::free(bytes);
  return ok;
}
