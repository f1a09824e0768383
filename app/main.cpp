#include "app/command_line.h"
#include "app/job.h"
#include "console/console.h"
#include "system/executable_folder.h"
#include "system/program_entry.h"
#include "system/standard_streams.h"

int ProgramMain(const std::vector<std::string>& arguments) {
  const CommandLine line = ParseCommandLine(arguments);
  switch (line.action) {
    case CommandLine::Action::kHelp:
      return WriteStandardOutput(HelpText(ShippedFileFolders())) ? 0 : 1;
    case CommandLine::Action::kVersion:
      return WriteStandardOutput(VersionText()) ? 0 : 1;
    case CommandLine::Action::kRefused:
      WriteStandardError(line.message);
      return 2;
    case CommandLine::Action::kDialogue:
      break;
  }
  EndProgram(RunJob(line.inputGiven ? &line.inputName : nullptr));
}
