#include "app/command_line.h"

#include "system/shell_usage.h"

namespace {

std::string Refusal(const std::string& what, const std::string& argument) {
  return "ostrivale: " + what + " '" + argument + "' (see ostrivale --help)\n";
}

bool IsOption(const std::string& argument) { return !argument.empty() && argument[0] == '-'; }

bool IsHelp(const std::string& argument) { return argument == "--help" || argument == "-h"; }

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  if (arguments.size() == 1 && IsHelp(arguments[0])) {
    line.action = CommandLine::Action::kHelp;
    return line;
  }
  if (arguments.size() == 1 && arguments[0] == "--version") {
    line.action = CommandLine::Action::kVersion;
    return line;
  }
  bool namesOnly = false;  // after "--", a name that starts with "-" is a name
  for (const std::string& argument : arguments) {
    if (!namesOnly && argument == "--") {
      namesOnly = true;
      continue;
    }
    if (!namesOnly && IsOption(argument)) {
      line.action = CommandLine::Action::kRefused;
      line.message =
          Refusal(IsHelp(argument) || argument == "--version" ? "no other argument goes with"
                                                              : "unknown option",
                  argument);
      return line;
    }
    if (line.inputGiven) {
      line.action = CommandLine::Action::kRefused;
      line.message = Refusal("one input file at most, not also", argument);
      return line;
    }
    line.inputGiven = true;
    line.inputName = argument;
  }
  return line;
}

std::string HelpText(const std::vector<std::string>& filterFolders) {
  std::string text =
      "Usage: ostrivale [INPUT.wav]\n"
      "\n"
      "Filters a 24-bit PCM wave file recorded at 96000 or 192000 samples per second\n"
      "with one of six fixed FIR low-pass filters, and writes a new 24-bit wave file\n"
      "with triangular dither. The same input and filter always give the same bytes.\n"
      "\n"
      "Ostrivale is a dialogue in an 80 x 41 console: it asks for the input file\n"
      "(unless INPUT.wav is given), shows the file's data, asks for the filter\n"
      "(B or F at 96000; A, C, D or E at 192000) and for the output file's name.\n"
      "\n"
      "When standard input or output is not a terminal it runs in plain mode, for\n"
      "scripts: one answer a line from standard input, the final screen on standard\n"
      "output, errors on standard error, exit status 0 after a finished job. E.g.";
  // In this system's own shell, each command on a line of its own.
  const ShellExample example = PlainModeExample();
  text += example.shell.empty() ? std::string("\n") : " in\n" + std::string(example.shell) + ":\n";
  for (std::string_view commands = example.commands; !commands.empty();) {
    const std::size_t end = commands.find('\n');
    text += "  " + std::string(commands.substr(0, end)) + "\n";
    commands.remove_prefix(end == std::string_view::npos ? commands.size() : end + 1);
  }
  text +=
      "\n"
      "The filters, FilterA.dat to FilterF.dat, are looked for in the current folder,\n"
      "then in\n";
  for (const std::string& folder : filterFolders) text += "  " + folder + "\n";
  text +=
      "\n"
      "  -h, --help  print this text and end\n"
      "  --version   print the version and end\n"
      "\n";
  text += std::string(FullDescription()) + " describes the whole dialogue and every message.\n";
  return text;
}

std::string VersionText() { return "ostrivale " OSTRIVALE_VERSION "\n"; }
