#include "system/executable_folder.h"

#include <windows.h>

#include <string>

#include "text/unicode.h"

std::string ExecutableFolder() {
  // GetModuleFileNameW cuts a name that does not fit and says so only by
  // filling the buffer: grow it until the name fits (paths reach 32767 units).
  for (DWORD size = MAX_PATH; size <= 65536; size *= 4) {
    std::u16string path(size, u'\0');
    const DWORD length = GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path.data()), size);
    if (length == 0) return std::string();
    if (length >= size) continue;
    path.resize(length);
    const std::size_t separator = path.find_last_of(u"\\/");
    if (separator == std::u16string::npos) return std::string();
    std::string folder;
    if (!Utf16ToUtf8(std::u16string_view(path).substr(0, separator + 1), folder))
      return std::string();
    return folder;
  }
  return std::string();
}

std::vector<std::string> ShippedFileFolders() {
  const std::string executable = ExecutableFolder();
  if (executable.empty()) return {};
  return {executable};
}
