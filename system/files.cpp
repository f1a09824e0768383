// The part of the file interface that is the same on every system.
#include "system/files.h"

#include <string_view>

bool NameIsRefused(const std::string& name) {
  // Wildcards never name a file; a NUL character would silently cut the name
  // short in every system call, so such a name is refused as well.
  return name.empty() || name.find_first_of(std::string_view("*?\0", 3)) != std::string::npos;
}
