// Files on POSIX: descriptors; the new output file made with O_TMPFILE and
// linked into its folder once complete, or made under a hidden name where the
// file system has no unnamed files.
#include "system/files.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "system/ending.h"

namespace {

int Descriptor(FileHandle handle) { return static_cast<int>(handle); }

// Opens `path` for reading without waiting: O_NONBLOCK keeps a named pipe
// with no writer (or a device that waits for a line) from hanging the open;
// for a regular file the flag changes nothing. Folders are refused.
int OpenWithoutWaiting(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat status {};
  if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

// ---- the file size signal ---------------------------------------------------------

// Beyond a file size limit a write must fail with EFBIG, not end the program
// on SIGXFSZ with a temporary file left behind: the signal is ignored while
// an output file is open.
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

// The folder part of `path` with its separator, or "" for the current folder.
std::string FolderOf(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The rule by which Linux guards shared folders (fs.protected_symlinks): a
// link in a sticky folder that anyone may write (/tmp) is followed only when
// it belongs to us or to the folder's owner. Anyone can plant a link there;
// followed, it would send our output over a file of our own elsewhere.
// Applied whatever fs.protected_symlinks is set to, and where there is no
// such setting.
bool LinkMayBeFollowed(const struct stat& link, const std::string& folder) {
  if (link.st_uid == geteuid()) return true;
  struct stat status {};
  if (stat(folder.empty() ? "." : folder.c_str(), &status) != 0) return false;
  const bool shared = (status.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
  return !shared || status.st_uid == link.st_uid;
}

// Links followed one after another before the name counts as a loop, as the
// kernel counts them (MAXSYMLINKS).
constexpr int kMostLinksFollowed = 40;

// Finds the file that will be made or replaced: the name itself, or what a
// symbolic link points to (and any link that leads to, each under the rule
// above). We read only these last links ourselves; links among the folders
// on the way are left to the kernel. False when the name cannot be a
// regular file's.
bool FindTarget(const std::string& name, OutputFile& file) {
  if (NameIsRefused(name) || name.back() == '/') return false;
  struct stat status {};
  file.targetPath = name;
  file.replacing = false;
  bool exists = false;
  for (int followed = 0;; ++followed) {
    if (lstat(file.targetPath.c_str(), &status) != 0) {
      // Nothing there makes a new file; nothing where a link points is refused.
      if (errno != ENOENT || followed > 0) return false;
      break;
    }
    exists = true;
    if (!S_ISLNK(status.st_mode)) break;
    // Write where the link points, so that the link stays a link.
    const std::string folder = FolderOf(file.targetPath);
    if (followed == kMostLinksFollowed || !LinkMayBeFollowed(status, folder)) return false;
    char pointed[PATH_MAX];
    const ssize_t length = readlink(file.targetPath.c_str(), pointed, sizeof pointed);
    if (length <= 0 || length >= static_cast<ssize_t>(sizeof pointed)) return false;
    const std::string text(pointed, static_cast<std::size_t>(length));
    file.targetPath = text[0] == '/' ? text : folder + text;
  }
  if (exists) {
    // Only a regular file is replaced: never a folder, a device or a pipe.
    if (!S_ISREG(status.st_mode)) return false;
    // A file we may not write keeps its protection, even though the folder
    // would let us put a new file in its place. Root passes access() whatever
    // the mode, so for root the owner's write bit decides, as for the owner:
    // a file made read-only (chmod a-w, u-w) is never replaced, whoever runs
    // the job, as Windows' read-only attribute holds for everyone. A file its
    // owner may write is root's to replace.
    if (access(file.targetPath.c_str(), W_OK) != 0) return false;
    if (geteuid() == 0 && (status.st_mode & S_IWUSR) == 0) return false;
    file.replacing = true;
    file.keptMode = status.st_mode & 0777;  // set-id bits are not carried over to new content
    file.keptOwner = status.st_uid;
    file.keptGroup = status.st_gid;
  }
  file.folder = FolderOf(file.targetPath);
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

DiskStepObserver diskStepObserver = nullptr;
ReadObserver readObserver = nullptr;

// fsync, and the step told to the observer once it is done (which may make
// it fail, for a test).
bool SyncToDisk(int fd, DiskStep step) {
  if (fsync(fd) != 0) return false;
  return diskStepObserver == nullptr || diskStepObserver(step, fd);
}

// Puts the folder's entries on the disk: the name just given. A folder we
// may write but not read (a drop folder) cannot be opened for it and is left
// to the system's own writeback, as is one whose file system refuses.
void SyncFolder(const std::string& folder) {
  const int folderFd =
      open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return;
  SyncToDisk(folderFd, DiskStep::kFolderEntry);
  close(folderFd);
}

void ForgetOutput(OutputFile& file) {
  file.handle = kNoFile;
  file.temporaryPath.clear();
  ReleaseEndingEvents();
  RestoreFileSizeSignal();
}

}  // namespace

bool WriteAllTo(FileHandle handle, const void* bytes, std::int64_t count) {
  const int fd = Descriptor(handle);
  const auto* from = static_cast<const std::uint8_t*>(bytes);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t put = write(fd, from + done, static_cast<std::size_t>(count - done));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno == EAGAIN) {
      pollfd out = {fd, POLLOUT, 0};
      poll(&out, 1, 100);
      continue;
    }
    if (put <= 0) return false;  // a write that makes no progress: the disk is full
    done += put;
  }
  return true;
}

// ---- reading --------------------------------------------------------------------

FileHandle OpenFileForReading(const std::string& name) {
  if (NameIsRefused(name)) return kNoFile;
  const int fd = OpenWithoutWaiting(name);
  return fd < 0 ? kNoFile : fd;
}

bool IsRegularFile(FileHandle file) {
  struct stat status {};
  return file != kNoFile && fstat(Descriptor(file), &status) == 0 && S_ISREG(status.st_mode);
}

std::int64_t FileSizeOf(FileHandle file) {
  if (file == kNoFile) return 0;
  // The end of a file, or of a disk; a pipe or a terminal ends at once.
  const off_t end = lseek(Descriptor(file), 0, SEEK_END);
  return end > 0 ? static_cast<std::int64_t>(end) : 0;
}

std::int64_t ReadFileAt(FileHandle file, std::int64_t offset, std::uint8_t* bytes,
                        std::int64_t count) {
  if (file == kNoFile || offset < 0) return kReadFailed;
  if (readObserver != nullptr && !readObserver(file, offset)) return kReadFailed;
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t got =
        pread(Descriptor(file), bytes + done, static_cast<std::size_t>(count - done),
              static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return kReadFailed;  // EIO from a failing disk; ESPIPE from a pipe
    if (got == 0) break;              // the end of the file
    done += got;
  }
  return done;
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) close(Descriptor(file));
}

// ---- the output file ------------------------------------------------------------

bool CreateOutputFile(const std::string& name, OutputFile& file, OutputNaming naming) {
  file = OutputFile{};
  if (!FindTarget(name, file)) return false;
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

  // No O_TMPFILE here: a hidden name, with the ending events held from
  // before it exists until it is gone.
  HoldEndingEvents();
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
  return file.handle != kNoFile && WriteAllTo(file.handle, bytes, count);
}

bool MakeOutputDurable(OutputFile& file) {
  if (file.handle == kNoFile) return false;
  const int fd = Descriptor(file.handle);
  if (file.replacing) {
    // Keep the replaced file's owner (when allowed) and permissions.
    if (fchown(fd, file.keptOwner, file.keptGroup) != 0) {
      // Not ours to give away: the file stays ours, as a new one would be.
    }
    if (fchmod(fd, static_cast<mode_t>(file.keptMode)) != 0) return false;
  } else if (!file.temporaryPath.empty() && fchmod(fd, NewFileMode()) != 0) {
    // mkostemp makes its files private; O_TMPFILE made this one 0666 & ~umask.
    return false;
  }
  // The content must be on disk before the name moves to it: a replaced
  // file could otherwise be lost with its replacement, and a new one be
  // found short or empty after a power cut though the job said it was done
  // (and the recording it came from may be gone by then).
  return SyncToDisk(fd, DiskStep::kFileContents);
}

bool NameOutputFile(OutputFile& file) {
  if (file.handle == kNoFile) return false;
  const int fd = Descriptor(file.handle);
  bool ok = false;
  if (file.temporaryPath.empty() && !file.replacing && LinkUnnamed(fd, file.targetPath)) {
    // A new file takes its name in one step; nothing to rename.
    ok = close(fd) == 0;
    if (ok) {
      SyncFolder(file.folder);
    } else {
      unlink(file.targetPath.c_str());
    }
    ForgetOutput(file);
    return ok;
  }
  if (file.temporaryPath.empty()) {
    // The name is taken (by the file to replace, or by one that appeared
    // meanwhile): linked under a hidden name first, then renamed over it.
    HoldEndingEvents();
    LinkUnderTemporaryName(fd, file.folder, file.temporaryPath);
  }
  ok = close(fd) == 0 && !file.temporaryPath.empty();
  ok = ok && TargetMayBeReplaced(file.targetPath) &&
       rename(file.temporaryPath.c_str(), file.targetPath.c_str()) == 0;
  if (!ok && !file.temporaryPath.empty()) unlink(file.temporaryPath.c_str());
  // The rename itself made durable; the data is on disk either way.
  if (ok) SyncFolder(file.folder);
  ForgetOutput(file);
  return ok;
}

void ObserveDiskSteps(DiskStepObserver observer) { diskStepObserver = observer; }

void ObserveReads(ReadObserver observer) { readObserver = observer; }

void AbandonOutputFile(OutputFile& file) {
  if (file.handle != kNoFile) close(Descriptor(file.handle));
  if (!file.temporaryPath.empty()) unlink(file.temporaryPath.c_str());
  ForgetOutput(file);
}
