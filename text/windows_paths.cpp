#include "text/windows_paths.h"

#include <string_view>

namespace {

bool StartsWith(const std::u16string& text, std::u16string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::u16string LongPathForm(const std::u16string& fullPath) {
  if (fullPath.size() < kLongPathLength || StartsWith(fullPath, u"\\\\?\\")) return fullPath;
  if (StartsWith(fullPath, u"\\\\")) return u"\\\\?\\UNC\\" + fullPath.substr(2);
  return u"\\\\?\\" + fullPath;
}

bool IsDevicePath(const std::u16string& fullPath) { return StartsWith(fullPath, u"\\\\.\\"); }
