#include "wave/wave_dialogue.h"

#include "console/console.h"
#include "console/refusal.h"

namespace {

// The box shown for each refused header.
constexpr VerdictBox<HeaderVerdict> kHeaderBoxes[] = {
    {HeaderVerdict::kNotWave, {" This is not a Wave file", "          ERROR"}},
    {HeaderVerdict::kNotPcm, {"This is not a PCM format Wave file", "                 ERROR"}},
    {HeaderVerdict::kNot24Bit, {"This is not a 24-bit Wave file", "             ERROR"}},
    {HeaderVerdict::kWrongRate,
     {"This is not a 96kHz or 192kHz Wave file", "                     ERROR"}},
    {HeaderVerdict::kNotMonoStereo,
     {"This is not a mono or stereo Wave file", "                    ERROR"}},
};

}  // namespace

void ShowHeaderRefusal(HeaderVerdict verdict) { ShowRefusal(verdict, kHeaderBoxes); }

void ShowFileData(const WaveFormat& format) {
  SetColor(kDarkGrey, kBrightWhite);
  EndLine();
  EndLine();
  PrintText("                 FILE DATA");
  EndLine();
  EndLine();

  PrintText("                 Channels    ");
  PrintNumber(static_cast<double>(format.channelCount), 7);
  EndLine();

  PrintText("                 Sample rate ");
  PrintNumber(static_cast<double>(format.sampleRate), 15);
  PrintText("Hz");
  EndLine();

  PrintText("                 Resolution  ");
  PrintNumber(static_cast<double>(format.bitsPerSample), 7);
  PrintText("bits");
  EndLine();

  PrintText("                 Length      ");
  PrintNumber(static_cast<double>(format.sampleCount), 15);
  PrintText("samples");
  EndLine();

  PrintText("                 Duration    ");
  PrintNumber(RoundToPlaces(format.durationSeconds, 2), 15);
  PrintText("seconds");
  EndLine();

  EndLine();
  EndLine();
  EndLine();
}
