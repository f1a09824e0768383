// Demo recordings to try the filters on: a chord in the audible band plus
// noise above 30 kHz, stereo, 24-bit, at 96000 or 192000 samples per second.
#pragma once

#include <cstdint>
#include <string>

constexpr int kDemoHeaderSize = 44;
constexpr int kDemoChannels = 2;
constexpr int kDemoBytesPerSample = 3;
constexpr double kDemoSeconds = 4.0;

// Where the ultrasonic noise starts: below this the noise is more than 70 dB
// down, so whatever a filter leaves above it is noise it did not remove.
constexpr double kDemoNoiseEdgeHz = 34000.0;
// The noise's RMS level relative to full scale.
constexpr double kDemoNoiseLevel = 0.02;

// The canonical 44-byte header of a PCM stereo 24-bit file of `frameCount`
// frames at `sampleRate`.
void BuildDemoHeader(int sampleRate, std::uint32_t frameCount,
                     std::uint8_t (&header)[kDemoHeaderSize]);

// Fills `left` and `right` (frameCount values each, full scale = 1.0) with
// the demo content: two chords, A minor then C major, each note with a few
// decaying harmonics, voiced a little differently in each channel, plus
// independent noise above kDemoNoiseEdgeHz in each channel. The same rate and
// length always give the same values. False when memory runs out.
bool MakeDemoSignal(int sampleRate, int frameCount, double* left, double* right);

// The 24-bit code of a value (full scale = 1.0): rounded to nearest, ties to
// even, and limited to -8388608 .. 8388607; not-a-number gives 0.
std::int32_t DemoSampleCode(double value);

// Writes a whole demo recording of `seconds` at `sampleRate` to `path`.
// False, with a line on standard error, when it cannot be written.
bool WriteDemoRecording(const std::string& path, int sampleRate, double seconds);
