// What the tests that run the real program share: whole-file reads and
// writes, wave and impulse files, shell words, a copy of the program that
// another user can run, waits for a condition, and the fixture that runs the
// program in plain mode in a work folder of its own (keys on standard input,
// the final screen on standard output, message boxes on standard error).
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "tests/test_environment.h"
#include "tests/wave_files.h"

namespace apptest {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// Polls `condition` until it holds, soon at first and then every 20 ms; the
// limit only guards against a hang. True when it held.
template <typename Condition>
bool WaitUntil(Condition condition, int seconds = 30) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (auto pause = std::chrono::milliseconds(1); std::chrono::steady_clock::now() < deadline;
       pause = std::min(2 * pause, std::chrono::milliseconds(20))) {
    if (condition()) return true;
    std::this_thread::sleep_for(pause);
  }
  return condition();
}

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
inline void WriteFileOfSize(const std::filesystem::path& path, const std::string& bytes,
                            std::uintmax_t size) {
  WriteFile(path, bytes);
  std::filesystem::resize_file(path, size);
}

// The names `folder` holds.
inline std::set<std::string> Entries(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename());
  }
  return names;
}

// An impulse file's text: the `leading` values, then `filler` up to `count`
// lines, each line ended by `lineEnd`.
inline std::string ImpulseText(std::initializer_list<std::string_view> leading, int count,
                               std::string_view filler = "0", std::string_view lineEnd = "\r\n") {
  std::string text;
  for (std::string_view value : leading) text.append(value).append(lineEnd);
  for (int line = static_cast<int>(leading.size()); line < count; ++line) {
    text.append(filler).append(lineEnd);
  }
  return text;
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

// The size of the open file in `folder` that has no name which process `pid`
// holds (the new output while the job's pass runs), or -1 while it holds
// none.
inline std::int64_t UnnamedFileSize(pid_t pid, const std::filesystem::path& folder) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  DIR* dir = opendir(fds.c_str());
  if (dir == nullptr) return -1;
  std::int64_t size = -1;
  while (const dirent* entry = readdir(dir)) {
    char target[4096];
    const std::string fd = fds + "/" + entry->d_name;
    const ssize_t n = readlink(fd.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    const std::string link(target, static_cast<std::size_t>(n));
    struct stat status {};
    if (link.rfind(folder.string() + "/", 0) == 0 && link.find("(deleted)") != std::string::npos &&
        stat(fd.c_str(), &status) == 0) {
      size = status.st_size;
    }
  }
  closedir(dir);
  return size;
}

inline bool WritingUnnamedFile(pid_t pid, const std::filesystem::path& folder) {
  return UnnamedFileSize(pid, folder) >= 0;
}

// ---- the program as a process -------------------------------------------------------

struct RunResult {
  std::string startFailure;  // not empty: the program never ran
  bool finished = false;     // false: still running at the guard limit, killed
  int status = -1;           // exit status, or -1 when ended by a signal
  int signal = 0;
  long peakKiB = 0;               // peak resident memory
  std::string screen;             // standard output
  std::string errors;             // standard error
  std::vector<std::string> rows;  // the screen's rows: rows[0] is row 1
};

// Row `row` (from 1) of the final screen, empty below its last row.
inline std::string Row(const RunResult& r, int row) {
  if (row < 1 || row > static_cast<int>(r.rows.size())) return std::string();
  return r.rows[static_cast<std::size_t>(row - 1)];
}

struct RunOptions {
  std::string arguments = "";  // blank-separated words after the program's name
  std::filesystem::path program = OSTRIVALE_BINARY;
  rlim_t fileSize = RLIM_INFINITY;      // RLIMIT_FSIZE in the child
  rlim_t addressSpace = RLIM_INFINITY;  // RLIMIT_AS in the child
  bool unprivileged = false;            // as the user of PrepareUnprivilegedRun
  int* keysPipe = nullptr;  // set: the keys come through a pipe whose writing end is left here open
  int guardSeconds = 120;   // still running then: a hang, killed
};

// The steps of the child's set-up before it becomes the program, and their
// names for the report when one fails.
enum StartStep {
  kOpenFiles,
  kEnterWorkFolder,
  kLimitFileSize,
  kLimitAddressSpace,
  kChangeUser,
  kExec
};
constexpr const char* kStartStepNames[] = {"opening keys, screen and errors",
                                           "entering the work folder",
                                           "RLIMIT_FSIZE",
                                           "RLIMIT_AS",
                                           "changing the user",
                                           "exec"};

// In the child: reports the failed step and its errno through `pipe` (closed
// by a successful exec, so the parent then reads nothing) and ends.
[[noreturn]] inline void FailStart(int pipe, StartStep step) {
  const int report[2] = {step, errno};
  if (write(pipe, report, sizeof report) < 0) _exit(126);
  _exit(step == kExec ? 125 : 124);
}

// Each test gets a work folder (the program's current folder, nothing else
// in it but what the test puts there) and a folder for keys and output.
class WorkFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = testenv::MakeTemporaryFolder("ostrivale-work");
    io_ = testenv::MakeTemporaryFolder("ostrivale-io");
    ASSERT_FALSE(work_.empty() || io_.empty()) << "no folders under " << testenv::TemporaryBase();
  }

  void TearDown() override {
    std::error_code ignored;
    // Folders made unwritable by a test are opened up again to be removed.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(work_, ignored)) {
      if (entry.is_directory(ignored)) chmod(entry.path().c_str(), 0755);
    }
    std::filesystem::remove_all(work_, ignored);
    std::filesystem::remove_all(io_, ignored);
    if (!programCopy_.empty()) std::filesystem::remove_all(programCopy_.parent_path(), ignored);
  }

  // Readies runs with `unprivileged` set, as a user file protections apply
  // to. Root changes to nobody, who cannot reach the build when the checkout
  // lies in a private folder: nobody runs a copy of the program, and the work
  // folder is opened to everyone. Returns why that cannot be arranged, or "".
  std::string PrepareUnprivilegedRun() {
    if (std::string why = testenv::FindUnprivilegedUser(user_); !why.empty()) return why;
    if (!user_.changeFromRoot) return "";
    programCopy_ = CopyProgramForOtherUsers();
    if (programCopy_.empty()) {
      return "no copy of the program for nobody could be made under " +
             testenv::TemporaryBase().string();
    }
    chmod(work_.c_str(), 0755);
    return "";
  }

  // Starts the program with `keys` on standard input; returns its pid.
  pid_t Start(const std::string& keys, const RunOptions& options = {}) {
    const std::string keysPath = io_ / "keys";
    const std::string screenPath = io_ / "screen";
    const std::string errorsPath = io_ / "errors";
    const bool asOtherUser = options.unprivileged && user_.changeFromRoot;
    const std::string program = asOtherUser ? programCopy_.string() : options.program.string();
    std::vector<std::string> words{program};
    std::istringstream arguments(options.arguments);
    for (std::string word; arguments >> word;) words.push_back(word);
    startFailure_.clear();
    int report[2];
    int keysPipe[2] = {-1, -1};
    if (pipe2(report, O_CLOEXEC) != 0 ||
        (options.keysPipe != nullptr && pipe2(keysPipe, O_CLOEXEC) != 0)) {
      startFailure_ = std::string("could not start the program: pipe: ") + std::strerror(errno);
      return -1;
    }
    if (options.keysPipe == nullptr) WriteFile(keysPath, keys);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
      startFailure_ = std::string("could not start the program: fork: ") + std::strerror(errno);
    if (pid != 0) {
      close(report[1]);
      int failed[2] = {0, 0};
      if (pid > 0 && read(report[0], failed, sizeof failed) == sizeof failed) {
        startFailure_ = std::string("could not start the program") +
                        (asOtherUser ? " as nobody" : "") + ": " + kStartStepNames[failed[0]] +
                        ": " + std::strerror(failed[1]);
      }
      close(report[0]);
      if (options.keysPipe != nullptr) {
        close(keysPipe[0]);
        *options.keysPipe = keysPipe[1];
        if (write(keysPipe[1], keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) {
          startFailure_ = "the keys could not be written";
        }
      }
      return pid;
    }
    // The child: descriptors, limits, user, then the program.
    close(report[0]);
    const int in = options.keysPipe != nullptr ? keysPipe[0] : open(keysPath.c_str(), O_RDONLY);
    const int out = open(screenPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) FailStart(report[1], kOpenFiles);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    close(in);
    close(out);
    close(err);
    if (chdir(work_.c_str()) != 0) FailStart(report[1], kEnterWorkFolder);
    rlimit limit{};
    if (options.fileSize != RLIM_INFINITY) {
      limit.rlim_cur = limit.rlim_max = options.fileSize;
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) FailStart(report[1], kLimitFileSize);
    }
    if (options.addressSpace != RLIM_INFINITY) {
      limit.rlim_cur = limit.rlim_max = options.addressSpace;
      if (setrlimit(RLIMIT_AS, &limit) != 0) FailStart(report[1], kLimitAddressSpace);
    }
    if (options.unprivileged && !testenv::BecomeUnprivileged(user_))
      FailStart(report[1], kChangeUser);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    FailStart(report[1], kExec);
  }

  // Waits for the program; one that is still running after the guard limit
  // (a hang) is killed and reported as not finished.
  RunResult Finish(pid_t pid, int guardSeconds = 120) {
    RunResult result;
    result.startFailure = startFailure_;
    if (pid < 0 || !startFailure_.empty()) {
      ADD_FAILURE() << startFailure_;
      if (pid > 0) waitpid(pid, nullptr, 0);
      return result;
    }
    int raw = 0;
    rusage usage{};
    result.finished =
        WaitUntil([&] { return wait4(pid, &raw, WNOHANG, &usage) == pid; }, guardSeconds);
    if (!result.finished) {
      kill(pid, SIGKILL);
      wait4(pid, &raw, 0, &usage);
    }
    if (WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) result.signal = WTERMSIG(raw);
    result.peakKiB = usage.ru_maxrss;
    result.screen = ReadFile(io_ / "screen");
    result.errors = ReadFile(io_ / "errors");
    std::istringstream lines(result.screen);
    for (std::string line; std::getline(lines, line);) result.rows.push_back(line);
    return result;
  }

  RunResult Run(const std::string& keys, const RunOptions& options = {}) {
    return Finish(Start(keys, options), options.guardSeconds);
  }

  // An impulse file in `folder` (by default the work folder) with `first` as
  // coefficient 0 and zeros after it.
  void WriteIdentityImpulse(char letter, const std::string& first, int count,
                            const std::filesystem::path& folder = {}) {
    WriteFile((folder.empty() ? work_ : folder) / (std::string("Filter") + letter + ".dat"),
              ImpulseText({first}, count));
  }

  std::filesystem::path work_;
  std::filesystem::path io_;
  testenv::UnprivilegedUser user_;
  std::filesystem::path programCopy_;  // for nobody: the folder holding it is removed after
  std::string startFailure_;           // of the last Start
};

}  // namespace apptest
