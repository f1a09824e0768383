#include "system/windows_paths.h"

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

std::u16string WithoutDropMarks(const std::u16string& name) {
  std::u16string bare = name;
  if (!bare.empty() && bare.back() == u' ') bare.pop_back();
  if (bare.size() >= 2 && bare.front() == u'"' && bare.back() == u'"') return bare.substr(1, bare.size() - 2);
  return bare;
}
