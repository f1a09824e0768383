#include "wave/file_name.h"

#include <cstddef>
#include <string_view>

#include "console/console.h"

namespace {

// Names are cut to this many typed characters before they are used.
constexpr std::size_t kMaxTypedNameLength = 255;

}  // namespace

std::string FileSystemName(const std::string& typedName) {
  const std::string_view used = std::string_view(typedName).substr(0, kMaxTypedNameLength);
  // Wildcards never name a file; a NUL byte would silently cut the name
  // short in every system call, so such a name is refused as well.
  if (used.find_first_of(std::string_view("*?\0", 3)) != std::string_view::npos) return std::string();
  return Latin1ToUtf8(used);
}
