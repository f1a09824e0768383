#include "wave/wave_dialogue.h"

#include "console/console.h"

namespace {

struct Rejection {
  HeaderVerdict verdict;
  const char* text;
  const char* title;
};

// The box shown for each refused header.
constexpr Rejection kRejections[] = {
    {HeaderVerdict::NotWave, " This is not a Wave file", "          ERROR"},
    {HeaderVerdict::NotPcm, "This is not a PCM format Wave file", "                 ERROR"},
    {HeaderVerdict::Not24Bit, "This is not a 24-bit Wave file", "             ERROR"},
    {HeaderVerdict::WrongRate, "This is not a 96kHz or 192kHz Wave file",
     "                     ERROR"},
    {HeaderVerdict::NotMonoStereo, "This is not a mono or stereo Wave file",
     "                    ERROR"},
};

}  // namespace

bool ReadWaveHeader(const std::string& inputFileName, WaveFormat& format) {
  // A pipe given as the input reads as nothing instead of hanging the dialogue.
  const FileHandle file = OpenFileForReading(inputFileName);
  const bool accepted = ReadWaveHeader(file, format);
  CloseFile(file);
  return accepted;
}

bool ReadWaveHeader(FileHandle input, WaveFormat& format) {
  FileWindow window;
  window.file = input;
  const HeaderVerdict verdict = DecodeWaveHeader(FileWaveSource(window), format);
  if (verdict == HeaderVerdict::Accepted) return true;
  for (const Rejection& r : kRejections) {
    if (r.verdict == verdict) {
      Beep();
      ShowMessageBox(r.text, r.title);
      break;
    }
  }
  return false;
}

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
