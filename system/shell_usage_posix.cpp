#include "system/shell_usage.h"

ShellExample PlainModeExample() {
  return {"", "printf '%s\\n' E filtered.wav | ostrivale take1.wav > screen.txt\n"};
}

std::string_view FullDescription() { return "The manual page ostrivale(1)"; }
