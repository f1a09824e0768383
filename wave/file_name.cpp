#include "wave/file_name.h"

#include <string_view>

std::string FileSystemName(const std::string& typedName) {
  // Wildcards never name a file; a NUL byte would silently cut the name
  // short in every system call, so such a name is refused as well.
  if (typedName.find_first_of(std::string_view("*?\0", 3)) != std::string::npos) return std::string();
  return typedName;
}
