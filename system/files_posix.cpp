#include "system/files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "system/ending.h"

namespace {

// Beyond a file size limit a write must fail with EFBIG, not end the program
// on SIGXFSZ with the temporary file left behind: the signal is ignored for
// the time of a replacing write (one at a time).
struct sigaction fileSizeSignalBefore;

bool WriteAll(int fd, const std::uint8_t* bytes, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t put = write(fd, bytes + done, static_cast<std::size_t>(count - done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;  // a write that makes no progress: disk full
    done += put;
  }
  return true;
}

mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

// Finds what a replacing write of `name` replaces: the name, or where a
// symbolic link under it points, so that the link stays a link. False when
// the name cannot be a regular file's that we may write.
bool FindTarget(const std::string& name, ReplacingWrite& write) {
  if (NameIsRefused(name) || name.back() == '/') return false;
  struct stat status {};
  write.targetPath = name;
  write.replacing = false;
  if (lstat(name.c_str(), &status) != 0) return errno == ENOENT;  // else a folder on the way is missing
  if (S_ISLNK(status.st_mode)) {
    char* resolved = realpath(name.c_str(), nullptr);
    if (resolved == nullptr) return false;
    write.targetPath = resolved;
    std::free(resolved);
    if (stat(write.targetPath.c_str(), &status) != 0) return false;
  }
  // Only a regular file is replaced: never a folder, a device or a pipe.
  if (!S_ISREG(status.st_mode)) return false;
  // A file we may not write keeps its protection, even though the folder
  // would let us put a new file in its place.
  if (access(write.targetPath.c_str(), W_OK) != 0) return false;
  write.replacing = true;
  write.keptOwner = status.st_uid;
  write.keptGroup = status.st_gid;
  write.keptMode = status.st_mode & 0777;  // set-id bits are not carried over to new content
  return true;
}

void EndWrite(ReplacingWrite& write) {
  sigaction(SIGXFSZ, &fileSizeSignalBefore, nullptr);
  write.temporary = kNoFile;
  write.temporaryPath.clear();
  ReleaseEndingEvents();
}

}  // namespace

FileHandle OpenFileForReading(const std::string& name) {
  if (NameIsRefused(name)) return kNoFile;
  // Non-blocking, so that a pipe or device under the name is refused instead
  // of hanging the open; for a regular file the flag changes nothing.
  const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kNoFile;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return kNoFile;
  }
  return fd;
}

bool FileOpensForReading(const std::string& name) {
  const FileHandle file = OpenFileForReading(name);
  if (file == kNoFile) return false;
  CloseFile(file);
  return true;
}

std::int64_t ReadFileAt(FileHandle file, std::int64_t offset, std::uint8_t* bytes,
                        std::int64_t count) {
  if (file == kNoFile || offset < 0) return 0;
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t got = pread(static_cast<int>(file), bytes + done,
                              static_cast<std::size_t>(count - done), static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += got;
  }
  return done;
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) close(static_cast<int>(file));
}

bool BeginReplacingWrite(const std::string& name, ReplacingWrite& write) {
  write = ReplacingWrite{};
  if (!FindTarget(name, write)) return false;
  const std::string::size_type slash = write.targetPath.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : write.targetPath.substr(0, slash + 1);
  std::string temporary = folder + ".ostrivale-XXXXXX";

  HoldEndingEvents();
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    ReleaseEndingEvents();
    return false;
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &fileSizeSignalBefore);
  write.temporary = fd;
  write.temporaryPath = temporary;
  return true;
}

bool AppendToReplacingWrite(ReplacingWrite& write, const std::uint8_t* bytes, std::int64_t count) {
  return write.temporary != kNoFile && WriteAll(static_cast<int>(write.temporary), bytes, count);
}

bool WriteAtInReplacingWrite(ReplacingWrite& write, std::int64_t offset, const std::uint8_t* bytes,
                             std::int64_t count) {
  if (write.temporary == kNoFile || offset < 0) return false;
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t put = pwrite(static_cast<int>(write.temporary), bytes + done,
                               static_cast<std::size_t>(count - done), static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += put;
  }
  return true;
}

bool FinishReplacingWrite(ReplacingWrite& write) {
  if (write.temporary == kNoFile) return false;
  const int fd = static_cast<int>(write.temporary);
  bool ok = true;
  if (write.replacing) {
    // Keep the replaced file's owner (when allowed) and its permissions.
    if (fchown(fd, write.keptOwner, write.keptGroup) != 0) {
      // Not ours to give away: the file stays ours, as a new one would be.
    }
    ok = fchmod(fd, static_cast<mode_t>(write.keptMode)) == 0;
    // The new content must be on disk before the name moves to it, or a
    // crash could leave neither the old file nor the new one.
    ok = ok && fsync(fd) == 0;
  } else {
    ok = fchmod(fd, NewFileMode()) == 0;
  }
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(write.temporaryPath.c_str(), write.targetPath.c_str()) == 0;
  if (!ok) {
    unlink(write.temporaryPath.c_str());
    EndWrite(write);
    return false;
  }
  if (write.replacing) {
    // Make the rename itself durable; the data is complete either way.
    const std::string::size_type slash = write.targetPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : write.targetPath.substr(0, slash + 1);
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
      fsync(folderFd);
      close(folderFd);
    }
  }
  EndWrite(write);
  return true;
}

void AbandonReplacingWrite(ReplacingWrite& write) {
  if (write.temporary == kNoFile) return;
  close(static_cast<int>(write.temporary));
  unlink(write.temporaryPath.c_str());
  EndWrite(write);
}
