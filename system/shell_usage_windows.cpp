#include "system/shell_usage.h"

// No blank between an answer and the ">" after it: the blank would be part of
// the answer.
ShellExample PlainModeExample() {
  return {"Command Prompt",
          "echo E> answers.txt\n"
          "echo filtered.wav>> answers.txt\n"
          "ostrivale take1.wav < answers.txt > screen.txt\n"};
}

std::string_view FullDescription() { return "README.txt beside ostrivale.exe"; }
