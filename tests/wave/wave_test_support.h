// Helpers shared by the wave tests: scratch folders, whole-file reads and
// writes, canonical headers.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "tests/test_environment.h"
#include "wave/wave_format.h"

namespace wavetest {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder, removed with everything in it when the object goes away.
class ScratchFolder {
 public:
  ScratchFolder() : path_(testenv::MakeTemporaryFolder("ostrivale-wave")) {}
  ~ScratchFolder() {
    if (path_.empty()) return;
    // Folders a test closed are opened again (before they are entered) to be emptied.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
      if (entry.is_directory(ignored)) chmod(entry.path().c_str(), 0700);
    }
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Names of the entries in the folder ("." and ".." left out).
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    DIR* dir = opendir(path_.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(dir);
    return names;
  }

 private:
  std::string path_;
};

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void PutLe(Bytes& bytes, std::size_t offset, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[offset + static_cast<std::size_t>(i)] =
      static_cast<std::uint8_t>(value >> (8 * i));
}

inline void PutText(Bytes& bytes, std::size_t offset, const char* text) {
  for (std::size_t i = 0; text[i] != 0; ++i) bytes[offset + i] = static_cast<std::uint8_t>(text[i]);
}

// The canonical 44-byte header of a 24-bit PCM file.
inline Bytes CanonicalHeader(int channels, int rate, std::uint32_t dataSize) {
  Bytes h(kWaveHeaderSize, 0);
  PutText(h, 0, "RIFF");
  PutLe(h, 4, dataSize + 36u, 4);
  PutText(h, 8, "WAVE");
  PutText(h, 12, "fmt ");
  PutLe(h, 16, 16, 4);
  PutLe(h, 20, 1, 2);
  PutLe(h, 22, static_cast<std::uint64_t>(channels), 2);
  PutLe(h, 24, static_cast<std::uint64_t>(rate), 4);
  PutLe(h, 28, static_cast<std::uint64_t>(rate) * 3u * static_cast<std::uint64_t>(channels), 4);
  PutLe(h, 32, 3u * static_cast<std::uint64_t>(channels), 2);
  PutLe(h, 34, 24, 2);
  PutText(h, 36, "data");
  PutLe(h, 40, dataSize, 4);
  return h;
}

inline mode_t FileMode(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return 0;
  return status.st_mode & 07777;
}

// Bytes of address space the process holds (VmSize), or -1.
inline std::int64_t AddressSpaceInUse() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long long kib = -1;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::sscanf(line, "VmSize: %lld kB", &kib) == 1) break;
  }
  std::fclose(f);
  return kib * 1024;
}

// Runs `body` in a forked child (for limits and identities that must not
// touch the test process) and returns its exit status: 0 when all held,
// 1000 + the signal when it was killed, -1 when it could not be waited for.
inline int RunInChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  if (WIFSIGNALED(status)) return 1000 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

}  // namespace wavetest
