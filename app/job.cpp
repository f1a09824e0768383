// The job flow: the banner and prompts, the restart after a rejected input
// file, the computing steps in their fixed order with a status line before and
// a "   Done" line after each group, and the time report.
#include "app/job.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "console/console.h"
#include "filter/filter_dialogue.h"
#include "filter/filter_pass.h"
#include "filter/impulse_file.h"
#include "system/clock.h"
#include "system/files.h"
#include "wave/kept_chunks.h"
#include "wave/wave_dialogue.h"
#include "wave/wave_format.h"
#include "wave/writer.h"

namespace {

// The job clock in seconds at millisecond resolution. It is monotonic, so a
// job that runs past midnight (or across a clock change) still reports its
// true length.
double JobClockSeconds() { return static_cast<double>(MonotonicMilliseconds()) / 1000.0; }

void ShowInputScreen() {
  ClearScreen();
  SetColor(kBlack, kBrightWhite);
  HideCursor();
  EndLine();
  PrintText("   Ostrivale v1");
  EndLine();
  PrintText("   High-resolution FIR filtering of 24-bit wave files, free software");
  EndLine();
  PrintText("   https://ostrivale.org");
  EndLine();
  EndLine();
  EndLine();
  EndLine();
}

// A prompt in dark grey, then the answer typed in black from the answer
// column; `given` (the name on the command line) stands there as if typed.
std::string AskFileName(const char* prompt, const std::string* given = nullptr) {
  SetColor(kDarkGrey, kBrightWhite);
  int promptRow = CursorRow();
  PrintText(prompt);
  EndLine();
  SetColor(kBlack, kBrightWhite);
  Locate(promptRow, kAnswerColumn);
  if (given == nullptr) return ReadLine(prompt);
  PrintText(*given);
  EndLine();
  return *given;
}

// The input named as typed; when that does not open, a name in one pair of
// quotes (as terminals paste a dropped file's name that holds a blank)
// names the file inside them.
FileHandle OpenInputFile(const std::string& typed) {
  const FileHandle file = OpenFileForReading(typed);
  const char first = typed.empty() ? 0 : typed.front();
  if (file != kNoFile || typed.size() < 2 || (first != '"' && first != '\'') || typed.back() != first) {
    return file;
  }
  return OpenFileForReading(typed.substr(1, typed.size() - 2));
}

void PrintStatus(const char* text) {
  SetColor(kDarkGrey, kBrightWhite);
  PrintText(text);
  EndLine();
  RefreshScreen();
}

void PrintDone() {
  SetColor(kBlack, kBrightWhite);
  PrintText("   Done");
  EndLine();
}

// The pass's percentage on its status line, after "   Convolving...", once
// the pass has run for half a second, a few times a second: a transient line
// of the console, so the final screen is the same whether it was shown or not.
constexpr int kProgressColumn = 17;
constexpr double kProgressDelaySeconds = 0.5;
constexpr double kProgressIntervalSeconds = 0.25;

struct ProgressShown {
  int row = 0;
  double started = 0.0;
  double lastShown = -1.0;
};

void ShowProgress(void* context, std::int64_t framesWritten, std::int64_t framesTotal) {
  ProgressShown& progress = *static_cast<ProgressShown*>(context);
  const double now = JobClockSeconds();
  if (now - progress.started < kProgressDelaySeconds || framesTotal <= 0) return;
  if (progress.lastShown >= 0.0 && now - progress.lastShown < kProgressIntervalSeconds) return;
  progress.lastShown = now;
  char text[8];
  std::snprintf(text, sizeof text, " %lld%%", static_cast<long long>(framesWritten * 100 / framesTotal));
  ShowTransientText(progress.row, kProgressColumn, text, kDarkGrey, kBrightWhite);
}

}  // namespace

int RunJob(const std::string* givenInput) {
  SetupConsole();

  // The restart point: every rejected input file comes back here. The file
  // opened by the existence test is the one read, header to last sample,
  // whatever becomes of its name meanwhile.
  FileHandle input = kNoFile;
  WaveFormat format;
  for (;;) {
    ShowInputScreen();
    input = OpenInputFile(AskFileName("   Input file?", givenInput));
    givenInput = nullptr;
    if (input == kNoFile) {
      Pause(100);
      Beep();
      ShowMessageBox("            File not found.\\n Please enter a valid filename",
                     "              ERROR");
      continue;
    }
    format = WaveFormat{};
    if (ReadWaveHeader(input, format)) break;
    CloseFile(input);
  }

  ShowFileData(format);
  FilterChoice choice = ChooseFilter(format);

  EndLine();
  std::string outputFileName = AskFileName("   Output file? ");
  double jobStartTime = JobClockSeconds();

  // Everything the pass needs, taken before anything is shown; a recording of
  // any length needs only a few blocks.
  const int m = choice.coefficientCount;
  const PassSettings settings;
  PassBuffers buffers;
  if (!AllocatePassBuffers(format, m, settings, buffers)) return 1;
  // The input's metadata follows the data chunk: the header counts it.
  FileWindow inputWindow;
  inputWindow.file = input;
  const WaveSource inputSource = FileWaveSource(inputWindow);
  const std::string historyLine = CodingHistoryLine(format, choice.letter);
  const std::int64_t keptBytes = KeptChunkBytes(inputSource, format, historyLine);

  EndLine();
  EndLine();
  Locate(CursorRow(), kTextColumn);
  PrintStatus("Loading impulse and input arrays...");
  const ImpulseVerdict impulse = LoadImpulseResponse(choice, buffers.impulseResponse.data());
  if (impulse != ImpulseVerdict::kRead) {
    ReportImpulseRefusal(impulse);
    return 1;
  }
  // The new file exists before any block is computed: no pass is run whose
  // output has nowhere to go.
  OutputFile output;
  if (!CreateOutputFile(outputFileName, output)) {
    CloseFile(input);
    ReportOutputFailure();
    return 1;
  }
  PrintDone();
  EndLine();

  PrintStatus("   Convolving...");
  ProgressShown progress;
  progress.row = CursorRow() - 1;
  progress.started = JobClockSeconds();
  const PassOutcome outcome = RunFilterPass(format, m, input, output, buffers, settings,
                                            PassProgress{ShowProgress, &progress}, keptBytes);
  const bool written =
      outcome.written && AppendKeptChunks(inputSource, format, historyLine, keptBytes, output);
  CloseFile(input);
  ClearTransientText();
  if (!written) {
    AbandonOutputFile(output);
    ReportOutputFailure();
    return 1;
  }
  PrintDone();
  EndLine();

  PrintStatus("   Writing output file...");
  if (!MakeOutputDurable(output) || !NameOutputFile(output)) {
    AbandonOutputFile(output);
    ReportOutputFailure();
    return 1;
  }
  PrintDone();
  Beep();
  EndLine();
  EndLine();
  EndLine();
  EndLine();

  PrintText("   Job completed in");
  PrintNumber(RoundToPlaces(JobClockSeconds() - jobStartTime, 2), 15);
  PrintText("seconds");
  EndLine();
  SetColor(kDarkGrey, kBrightWhite);
  PrintText("   press any key to quit");
  EndLine();
  WaitKey();
  return 0;
}
