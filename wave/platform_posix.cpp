// The platform interface on Linux: files by descriptor, the new output file
// made with O_TMPFILE and linked into its folder once complete, memory by
// mmap, and the signal mask that keeps a temporary name from being left
// behind.
#include "wave/platform.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "wave/file_name.h"

namespace {

int Descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

// ---- signals ------------------------------------------------------------------

// The signals that end the program from outside or with its terminal. While
// a temporary name exists they are held (blocked on the main thread, and so
// on every thread it starts meanwhile) and delivered when the name is gone.
sigset_t EndingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signalNumber : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) sigaddset(&set, signalNumber);
  return set;
}

sigset_t maskBeforeHolding;
bool signalsHeld = false;

void HoldEndingSignals() {
  if (signalsHeld) return;
  const sigset_t ending = EndingSignals();
  pthread_sigmask(SIG_BLOCK, &ending, &maskBeforeHolding);
  signalsHeld = true;
}

void ReleaseEndingSignals() {
  if (!signalsHeld) return;
  signalsHeld = false;
  pthread_sigmask(SIG_SETMASK, &maskBeforeHolding, nullptr);
}

// Beyond a file size limit a write must fail with EFBIG, not end the program
// on SIGXFSZ with a temporary file left behind: ignored while an output file
// is open.
struct sigaction fileSizeActionBefore;
bool fileSizeSignalIgnored = false;

void IgnoreFileSizeSignal() {
  if (fileSizeSignalIgnored) return;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &fileSizeActionBefore);
  fileSizeSignalIgnored = true;
}

void RestoreFileSizeSignal() {
  if (!fileSizeSignalIgnored) return;
  fileSizeSignalIgnored = false;
  sigaction(SIGXFSZ, &fileSizeActionBefore, nullptr);
}

// ---- the target ---------------------------------------------------------------

mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

// Finds the file that will be made or replaced: the name itself, or what a
// symbolic link points to. False when the name cannot be a regular file's.
bool FindTarget(const std::string& name, OutputFile& file) {
  if (name.empty() || name.back() == '/') return false;
  struct stat status {};
  file.targetPath = name;
  file.replacing = false;
  if (lstat(name.c_str(), &status) != 0) {
    if (errno != ENOENT) return false;  // a folder on the way is missing or not a folder
  } else {
    if (S_ISLNK(status.st_mode)) {
      // Write where the link points, so that the link stays a link.
      char* resolved = realpath(name.c_str(), nullptr);
      if (resolved == nullptr) return false;
      file.targetPath = resolved;
      std::free(resolved);
      if (stat(file.targetPath.c_str(), &status) != 0) return false;
    }
    // Only a regular file is replaced: never a folder, a device or a pipe.
    if (!S_ISREG(status.st_mode)) return false;
    // A file we may not write keeps its protection, even though the folder
    // would let us put a new file in its place.
    if (access(file.targetPath.c_str(), W_OK) != 0) return false;
    file.replacing = true;
    file.targetMode = status.st_mode;
    file.targetOwner = status.st_uid;
    file.targetGroup = status.st_gid;
  }
  const std::string::size_type slash = file.targetPath.rfind('/');
  file.folder = slash == std::string::npos ? std::string() : file.targetPath.substr(0, slash + 1);
  return true;
}

// The name may be taken over: nothing is there, or a regular file (the pass
// ran for a while; something else may have been put there meanwhile).
bool TargetMayBeReplaced(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return errno == ENOENT;
  return S_ISREG(status.st_mode);
}

std::string ProcessFdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Gives the unnamed file `fd` the name `path`, which must not exist yet.
// Through /proc (any user may), else by the descriptor itself (which needs
// a privilege). errno is EEXIST when the name is taken.
bool LinkUnnamed(int fd, const std::string& path) {
  if (linkat(AT_FDCWD, ProcessFdPath(fd).c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
    return true;
  if (errno == EEXIST) return false;
  return linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0;
}

// Links the unnamed file under a fresh hidden name in `folder`.
bool LinkUnderTemporaryName(int fd, const std::string& folder, std::string& temporaryPath) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  unsigned long long seed = static_cast<unsigned long long>(now.tv_nsec) ^
                            (static_cast<unsigned long long>(getpid()) << 20);
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    char name[32];
    std::snprintf(name, sizeof name, ".ostrivale-%06llx", (seed >> 40) & 0xFFFFFFull);
    temporaryPath = folder + name;
    if (LinkUnnamed(fd, temporaryPath)) return true;
    if (errno != EEXIST) break;
  }
  temporaryPath.clear();
  return false;
}

bool WriteAll(int fd, const std::uint8_t* bytes, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t put = write(fd, bytes + done, static_cast<std::size_t>(count - done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;  // a write that makes no progress: the disk is full
    done += put;
  }
  return true;
}

void ForgetOutput(OutputFile& file) {
  file.handle = -1;
  file.temporaryPath.clear();
  ReleaseEndingSignals();
  RestoreFileSizeSignal();
}

}  // namespace

// ---- input --------------------------------------------------------------------

bool InputFileOpens(const std::string& typedName) {
  InputFile file;
  if (!OpenInputFile(typedName, file)) return false;
  struct stat info {};
  const bool notFolder = fstat(Descriptor(file.handle), &info) == 0 && !S_ISDIR(info.st_mode);
  CloseInputFile(file);
  return notFolder;
}

bool OpenInputFile(const std::string& typedName, InputFile& file) {
  file.handle = -1;
  const std::string name = FileSystemName(typedName);
  if (name.empty()) return false;
  // Non-blocking, so that a named pipe with no writer cannot hang the job.
  const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  file.handle = fd;
  return true;
}

std::int64_t ReadInputAt(InputFile& file, std::int64_t offset, std::uint8_t* bytes,
                         std::int64_t count) {
  if (file.handle < 0 || offset < 0) return 0;
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t got = pread(Descriptor(file.handle), bytes + done,
                              static_cast<std::size_t>(count - done), static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // the end of the file, or a read that fails (a folder, a pipe)
    done += got;
  }
  return done;
}

void CloseInputFile(InputFile& file) {
  if (file.handle >= 0) close(Descriptor(file.handle));
  file.handle = -1;
}

// ---- output -------------------------------------------------------------------

bool CreateOutputFile(const std::string& typedName, OutputFile& file, OutputNaming naming) {
  file = OutputFile{};
  if (!FindTarget(FileSystemName(typedName), file)) return false;
  IgnoreFileSizeSignal();

  // A file without a name in the target's folder (so that the name can later
  // be given without copying). It can be named only through /proc for an
  // ordinary user: without /proc, the named way below.
  const std::string folder = file.folder.empty() ? std::string(".") : file.folder;
  int fd = naming == OutputNaming::kUnnamedWherePossible
               ? open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666)
               : -1;
  if (fd >= 0 && access(ProcessFdPath(fd).c_str(), F_OK) != 0) {
    close(fd);
    fd = -1;
  }
  if (fd >= 0) {
    file.handle = fd;
    return true;
  }

  // No O_TMPFILE here: a hidden name, with the ending signals held from
  // before it exists until it is gone.
  HoldEndingSignals();
  file.temporaryPath = file.folder + ".ostrivale-XXXXXX";
  fd = mkostemp(file.temporaryPath.data(), O_CLOEXEC);
  if (fd < 0) {
    ForgetOutput(file);
    return false;
  }
  file.handle = fd;
  return true;
}

bool AppendOutput(OutputFile& file, const std::uint8_t* bytes, std::int64_t count) {
  return file.handle >= 0 && WriteAll(Descriptor(file.handle), bytes, count);
}

bool MakeOutputDurable(OutputFile& file) {
  if (file.handle < 0) return false;
  const int fd = Descriptor(file.handle);
  if (file.replacing) {
    // Keep the replaced file's owner (when allowed) and permissions; set-id
    // bits are not carried over to content they were never meant for.
    if (fchown(fd, file.targetOwner, file.targetGroup) != 0) {
      // Not ours to give away: the file stays ours, as a new one would be.
    }
    // The new content must be on disk before the name moves to it, or a
    // crash could leave neither the old file nor the new one. A new file
    // needs no such care: nothing is lost if it is lost.
    return fchmod(fd, static_cast<mode_t>(file.targetMode & 0777)) == 0 && fsync(fd) == 0;
  }
  // mkostemp makes its files private; O_TMPFILE made this one 0666 & ~umask.
  return file.temporaryPath.empty() || fchmod(fd, NewFileMode()) == 0;
}

bool NameOutputFile(OutputFile& file) {
  if (file.handle < 0) return false;
  const int fd = Descriptor(file.handle);
  bool ok = false;
  if (file.temporaryPath.empty() && !file.replacing && LinkUnnamed(fd, file.targetPath)) {
    // A new file takes its name in one step; nothing to rename.
    ok = close(fd) == 0;
    if (!ok) unlink(file.targetPath.c_str());
    ForgetOutput(file);
    return ok;
  }
  if (file.temporaryPath.empty()) {
    // The name is taken (by the file to replace, or by one that appeared
    // meanwhile): linked under a hidden name first, then renamed over it.
    HoldEndingSignals();
    LinkUnderTemporaryName(fd, file.folder, file.temporaryPath);
  }
  ok = close(fd) == 0 && !file.temporaryPath.empty();
  ok = ok && TargetMayBeReplaced(file.targetPath) &&
       rename(file.temporaryPath.c_str(), file.targetPath.c_str()) == 0;
  if (!ok && !file.temporaryPath.empty()) unlink(file.temporaryPath.c_str());
  if (ok && file.replacing) {
    // Make the rename itself durable; the data is on disk either way.
    const int folderFd = open(file.folder.empty() ? "." : file.folder.c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
      fsync(folderFd);
      close(folderFd);
    }
  }
  ForgetOutput(file);
  return ok;
}

void AbandonOutputFile(OutputFile& file) {
  if (file.handle >= 0) close(Descriptor(file.handle));
  if (!file.temporaryPath.empty()) unlink(file.temporaryPath.c_str());
  ForgetOutput(file);
}

bool OutputEndingSignalWaiting(const OutputFile& file) {
  if (file.temporaryPath.empty() || !signalsHeld) return false;
  sigset_t pending;
  if (sigpending(&pending) != 0) return false;
  for (int signalNumber : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) {
    if (!sigismember(&pending, signalNumber)) continue;
    // An ignored signal (nohup) stays pending while held but ends nothing.
    struct sigaction action {};
    if (sigaction(signalNumber, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) return true;
  }
  return false;
}

// ---- memory -------------------------------------------------------------------

void* MapZeroedMemory(std::int64_t bytes) {
  if (bytes <= 0 || static_cast<std::uint64_t>(bytes) > std::numeric_limits<std::size_t>::max())
    return nullptr;
  void* memory = mmap(nullptr, static_cast<std::size_t>(bytes), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  // Large blocks in 2 MiB pages where the system allows it: far fewer page
  // faults when they are first touched.
  madvise(memory, static_cast<std::size_t>(bytes), MADV_HUGEPAGE);
  return memory;
}

void UnmapMemory(void* memory, std::int64_t bytes) {
  if (memory != nullptr) munmap(memory, static_cast<std::size_t>(bytes));
}

std::int64_t AvailableMemoryBytes() {
  std::FILE* f = std::fopen("/proc/meminfo", "re");
  if (f == nullptr) return -1;
  std::int64_t result = -1;
  char line[256];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    long long kib = 0;
    if (std::sscanf(line, "MemAvailable: %lld kB", &kib) == 1) {
      if (kib >= 0 && kib < std::numeric_limits<std::int64_t>::max() / 1024) result = kib * 1024;
      break;
    }
  }
  std::fclose(f);
  return result;
}
