// Scratch folders and whole-file helpers for the system room's tests, in
// std::filesystem terms so that they serve on Linux and under wine alike.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace systemtest {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A path as the system room takes names: UTF-8.
inline std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

inline fs::path FromUtf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

// A fresh folder under the system's temporary folder, removed with all it holds.
class ScratchFolder {
 public:
  ScratchFolder() {
    static std::atomic<int> counter{0};
    std::random_device random;
    const std::string tag = std::to_string(random()) + "-" + std::to_string(counter++);
    path_ = fs::temp_directory_path() / ("ostrivale-system-" + tag);
    fs::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const fs::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return Utf8(path_ / FromUtf8(name)); }

  // The names the folder holds.
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) names.insert(Utf8(entry.path().filename()));
    return names;
  }

 private:
  fs::path path_;
};

inline void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace systemtest
