// The entry on POSIX: the arguments are bytes, passed on as they stand (a
// name in an old 8-bit encoding still names its file).
#include "system/program_entry.h"

int main(int argc, char** argv) {
  return ProgramMain(std::vector<std::string>(argv + 1, argv + argc));
}
