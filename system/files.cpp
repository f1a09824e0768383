// The parts of the file interface that are the same on every system.
#include "system/files.h"

#include <string_view>

bool NameIsRefused(const std::string& name) {
  // Wildcards never name a file; a NUL character would silently cut the name
  // short in every system call, so such a name is refused as well.
  return name.empty() || name.find_first_of(std::string_view("*?\0", 3)) != std::string::npos;
}

bool WriteFileReplacing(const std::string& name, const std::uint8_t* bytes, std::int64_t count) {
  ReplacingWrite write;
  if (!BeginReplacingWrite(name, write)) return false;
  if (!AppendToReplacingWrite(write, bytes, count)) {
    AbandonReplacingWrite(write);
    return false;
  }
  return FinishReplacingWrite(write);
}
