// Scratch folders and whole-file helpers for the tests, in std::filesystem
// terms so that they serve on Linux and under wine alike. The checkout, and
// the build inside it, may lie in a private folder and be run by root or by
// an ordinary user, so scratch files go to folders of their own under the
// system's temporary folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace testfiles {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A path as the program takes names: UTF-8.
inline std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

inline fs::path FromUtf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

// A fresh folder under the system's temporary folder, removed with all it
// holds (folders a test closed are opened again first).
class ScratchFolder {
 public:
  ScratchFolder() {
    static std::atomic<int> counter{0};
    std::random_device random;
    const std::string tag = std::to_string(random()) + "-" + std::to_string(counter++);
    path_ = fs::temp_directory_path() / ("ostrivale-test-" + tag);
    fs::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::recursive_directory_iterator entry(path_, ignored);
    for (; !ignored && entry != fs::recursive_directory_iterator(); entry.increment(ignored)) {
      if (entry->is_directory(ignored) && !entry->is_symlink(ignored)) {
        fs::permissions(entry->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
      }
    }
    fs::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const fs::path& path() const { return path_; }
  // The UTF-8 name of `name` in the folder, as the program is given names.
  std::string operator/(const std::string& name) const { return Utf8(path_ / FromUtf8(name)); }

  // The names the folder holds.
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_))
      names.insert(Utf8(entry.path().filename()));
    return names;
  }

 private:
  fs::path path_;
};

// Whole files, by UTF-8 name.
inline void WriteBytes(const std::string& name, const Bytes& bytes) {
  std::ofstream out(FromUtf8(name), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadBytes(const std::string& name) {
  std::ifstream in(FromUtf8(name), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Works in `folder` while it lives, then goes back to the folder it was in.
class InFolder {
 public:
  explicit InFolder(const fs::path& folder) : previous_(fs::current_path()) {
    fs::current_path(folder);
  }
  ~InFolder() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
  }
  InFolder(const InFolder&) = delete;
  InFolder& operator=(const InFolder&) = delete;

 private:
  fs::path previous_;
};

}  // namespace testfiles
