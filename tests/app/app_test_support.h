// Files for the tests that run the real program: whole-file reads and writes,
// wave files in the canonical 44-byte layout, shell words, and a copy of the
// program that another user can run.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "tests/test_environment.h"
#include "tests/wave_files.h"

namespace apptest {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// `bytes`, then zeros up to `size` bytes in all: a long recording of
// silence that takes no room on the disk (the zeros are a hole in the file)
// and no time to write.
inline void WriteFileOfSize(const std::filesystem::path& path, const std::string& bytes, std::uintmax_t size) {
  WriteFile(path, bytes);
  std::filesystem::resize_file(path, size);
}

// A canonical 44-byte header declaring `dataSize` bytes (by default those of
// the samples), then `samples` (interleaved 24-bit values).
inline std::string MakeWave(int channels, int rate, const std::vector<std::int32_t>& samples,
                            std::int64_t dataSize = -1) {
  const auto size = static_cast<std::uint32_t>(dataSize >= 0 ? dataSize : samples.size() * 3);
  return wavefiles::CanonicalHeader<std::string>(channels, rate, size) +
         wavefiles::Samples<std::string>(samples);
}

// `text` as one shell word.
inline std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

// Copies the program into a folder of its own under the temporary folder,
// both open to everyone (0755): another user cannot reach the build when the
// checkout lies in a private folder. Returns the copy's path, or empty when
// it could not be made. The caller removes the folder (the copy's parent).
inline std::filesystem::path CopyProgramForOtherUsers() {
  const std::string folder = testenv::MakeTemporaryFolder("ostrivale-program");
  if (folder.empty()) return {};
  const std::filesystem::path copy = std::filesystem::path(folder) / "ostrivale";
  std::error_code error;
  std::filesystem::copy_file(OSTRIVALE_BINARY, copy, error);
  if (error || chmod(copy.c_str(), 0755) != 0 || chmod(folder.c_str(), 0755) != 0) {
    std::filesystem::remove_all(folder, error);
    return {};
  }
  return copy;
}

// True once process `pid` holds an open file in `folder` that has no name:
// the new output while the job's pass runs.
inline bool WritingUnnamedFile(pid_t pid, const std::filesystem::path& folder) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  DIR* dir = opendir(fds.c_str());
  if (dir == nullptr) return false;
  bool found = false;
  while (const dirent* entry = readdir(dir)) {
    char target[4096];
    const ssize_t n = readlink((fds + "/" + entry->d_name).c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    const std::string link(target, static_cast<std::size_t>(n));
    if (link.rfind(folder.string() + "/", 0) == 0 && link.find("(deleted)") != std::string::npos) found = true;
  }
  closedir(dir);
  return found;
}

}  // namespace apptest
