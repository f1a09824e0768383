// The job flow: the banner and prompts, the restart after a rejected input
// file, the computing steps in their fixed order with a status line before and
// a "   Done" line after each group, and the time report.
#include "app/job.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "console/console.h"
#include "filter/convolution.h"
#include "filter/filter_choice.h"
#include "filter/impulse_file.h"
#include "wave/file_name.h"
#include "wave/wave_format.h"
#include "wave/working_arrays.h"
#include "wave/writer.h"

namespace {

// The job clock in seconds at millisecond resolution. It is monotonic, so a
// job that runs past midnight (or across a clock change) still reports its
// true length.
double JobClockSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  long long milliseconds = static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  return static_cast<double>(milliseconds) / 1000.0;
}

// The existence test: the named file opens for reading and is not a directory.
bool InputFileOpens(const std::string& inputFileName) {
  std::string name = FileSystemName(inputFileName);
  if (name.empty()) return false;
  // Non-blocking, so that a named pipe with no writer cannot hang the dialogue.
  int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool notFolder = fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
  close(fd);
  return notFolder;
}

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

// A prompt in dark grey, then the answer typed in black from column 18.
std::string AskFileName(const char* prompt) {
  SetColor(kDarkGrey, kBrightWhite);
  int promptRow = CursorRow();
  PrintText(prompt);
  EndLine();
  SetColor(kBlack, kBrightWhite);
  Locate(promptRow, 18);
  return ReadLine(prompt);
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

}  // namespace

int RunJob() {
  SetupConsole();

  // The restart point: every rejected input file comes back here.
  std::string inputFileName;
  WaveFormat format;
  for (;;) {
    ShowInputScreen();
    inputFileName = AskFileName("   Input file?");
    if (!InputFileOpens(inputFileName)) {
      Pause(100);
      Beep();
      ShowMessageBox("            File not found.\\n Please enter a valid filename",
                     "              ERROR");
      continue;
    }
    format = WaveFormat{};
    if (ReadWaveHeader(inputFileName, format)) break;
  }

  ShowFileData(format);
  FilterChoice choice = ChooseFilter(format);

  EndLine();
  std::string outputFileName = AskFileName("   Output file? ");
  double jobStartTime = JobClockSeconds();

  WorkingArrays arrays;
  if (!AllocateWorkingArrays(format, choice.coefficientCount, arrays)) return 1;

  EndLine();
  EndLine();
  Locate(CursorRow(), 4);
  PrintStatus("Loading impulse and input arrays...");
  if (!LoadImpulseResponse(choice, arrays.impulseResponse.data())) return 1;
  LoadInputSamples(inputFileName, format, arrays);
  PrintDone();
  EndLine();

  PrintStatus("   Convolving...");
  ConvolveChannels(format, choice.coefficientCount, arrays);
  PrintDone();
  EndLine();

  PrintStatus("   Writing output file...");
  DitherGenerator dither;
  if (!WriteOutputFile(outputFileName, format, arrays, dither)) return 1;
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
