#include "wave/file_name.h"

#include <cstddef>

namespace {

// Names are cut to this many typed characters before they are used.
constexpr std::size_t kMaxTypedNameLength = 255;

}  // namespace

std::string FileSystemName(const std::string& typedName) {
  const std::size_t length =
      typedName.size() < kMaxTypedNameLength ? typedName.size() : kMaxTypedNameLength;
  std::string name;
  name.reserve(length * 2);
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(typedName[i]);
    // Wildcards never name a file; a NUL byte would silently cut the name
    // short in every system call, so such a name is refused as well.
    if (c == '*' || c == '?' || c == 0) return std::string();
    if (c < 0x80) {
      name.push_back(static_cast<char>(c));
    } else {
      // U+0080-U+00FF: two bytes, 110000xx 10xxxxxx.
      name.push_back(static_cast<char>(0xC0 | (c >> 6)));
      name.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return name;
}
