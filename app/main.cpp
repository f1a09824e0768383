#include "app/command_line.h"
#include "app/job.h"
#include "console/console.h"
#include "system/console_window.h"
#include "system/executable_folder.h"
#include "system/program_entry.h"
#include "system/standard_streams.h"

namespace {

constexpr std::string_view kCloseWindowLine = "\nPress any key to close this window.\n";

// Ends the program before its dialogue with `status`, once what it wrote can
// be read: a console window of its own (started from Explorer, or by files
// dropped on its icon) would close at once and take the text with it, so a
// key is waited for there first.
int EndBeforeDialogue(int status) {
  if (ConsoleWindowIsOwn()) {
    WriteStandardError(kCloseWindowLine);
    WaitForKeyInConsoleWindow();
  }
  return status;
}

}  // namespace

int ProgramMain(const std::vector<std::string>& arguments) {
  const CommandLine line = ParseCommandLine(arguments);
  switch (line.action) {
    case CommandLine::Action::kHelp:
      return EndBeforeDialogue(WriteStandardOutput(HelpText(ShippedFileFolders())) ? 0 : 1);
    case CommandLine::Action::kVersion:
      return EndBeforeDialogue(WriteStandardOutput(VersionText()) ? 0 : 1);
    case CommandLine::Action::kRefused:
      WriteStandardError(line.message);
      return EndBeforeDialogue(2);
    case CommandLine::Action::kDialogue:
      break;
  }
  EndProgram(RunJob(line.inputGiven ? &line.inputName : nullptr));
}
