// The entry on Windows: wmain (linked with -municode) gets the command line
// as UTF-16, split into arguments by the C runtime's rules.
#include "system/program_entry.h"

#include "text/unicode.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    std::string argument;
    AppendUtf16AsUtf8(argument, reinterpret_cast<const char16_t*>(argv[i]));
    arguments.push_back(argument);
  }
  return ProgramMain(arguments);
}
