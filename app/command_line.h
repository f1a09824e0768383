// The command line, by the conventions of the programs around it: --help
// (or -h), --version, or the name of the input file; nothing at all starts
// the dialogue as ever.
#pragma once

#include <string>
#include <vector>

struct CommandLine {
  enum class Action {
    kDialogue,  // run the dialogue; `inputName` answers "Input file?" when `inputGiven`
    kHelp,      // --help or -h: print HelpText() and end with status 0
    kVersion,   // print VersionText() and end with status 0
    kRefused,   // print `message` on standard error and end with status 2
  };
  Action action = Action::kDialogue;
  bool inputGiven = false;
  std::string inputName;
  std::string message;  // one line, ended by a line feed
};

// Reads the arguments after the program's name. One argument that is not an
// option (or any after "--") is the input file; "--help" (or "-h") or
// "--version" alone print their text; anything else, or a second name, is
// refused with a line that names it.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// What --help prints: what the tool does, the dialogue, plain mode with an
// example in this system's shell, where the filters are looked for
// (`filterFolders`, after the current folder), the document that describes
// it all (system/shell_usage.h).
std::string HelpText(const std::vector<std::string>& filterFolders);

// What --version prints: "ostrivale 1.0" and a line feed.
std::string VersionText();
