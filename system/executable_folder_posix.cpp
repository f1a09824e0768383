#include "system/executable_folder.h"

#include <unistd.h>

std::string ExecutableFolder() {
  // readlink does not say whether the name was cut: a result that fills the
  // buffer is tried again with a larger one.
  for (std::size_t size = 4096; size <= (std::size_t{1} << 20); size *= 4) {
    std::vector<char> path(size);
    const ssize_t length = readlink("/proc/self/exe", path.data(), size);
    if (length <= 0) return std::string();
    if (static_cast<std::size_t>(length) == size) continue;
    const std::string exe(path.data(), static_cast<std::size_t>(length));
    const std::size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return std::string();
    return exe.substr(0, slash + 1);
  }
  return std::string();
}

std::vector<std::string> ShippedFileFolders() {
  std::vector<std::string> folders;
  const std::string executable = ExecutableFolder();
  if (!executable.empty()) {
    folders.push_back(executable);
    folders.push_back(executable + "../share/ostrivale/");
  }
  folders.push_back(std::string(OSTRIVALE_DATA_DIR) + "/");
  return folders;
}
