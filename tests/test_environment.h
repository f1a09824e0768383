// What the POSIX-only tests need of the system: private scratch folders,
// users, limits and processes. The checkout, and the build inside it, may lie
// in a private folder (mode 0700, root's home) and be run by root or by an
// ordinary user, so scratch files go to folders of their own under the
// system's temporary folder ($TMPDIR, else /tmp). Tests of file protections
// need a user the protections apply to: the test's own user when that is not
// root, and "nobody" when it is, since root passes every protection by.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

namespace testenv {

inline std::filesystem::path TemporaryBase() {
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  return error ? std::filesystem::path("/tmp") : base;
}

// A new folder `prefix`-XXXXXX under the temporary folder, mode 0700; empty
// when none could be made.
inline std::string MakeTemporaryFolder(const std::string& prefix) {
  std::string pattern = (TemporaryBase() / (prefix + "-XXXXXX")).string();
  return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

// The user file protections apply to.
struct UnprivilegedUser {
  bool changeFromRoot = false;  // the child changes to uid and gid first
  uid_t uid = 0;
  gid_t gid = 0;
};

// Finds that user; when there is none to be had, says why. As root it is
// "nobody", who must then be able to pass through the folders above the
// temporary folder to reach what the test puts there.
inline std::string FindUnprivilegedUser(UnprivilegedUser& user) {
  if (geteuid() != 0) {
    user = {false, geteuid(), getegid()};
    return "";
  }
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) return "running as root, and there is no user \"nobody\" to change to";
  user = {true, nobody->pw_uid, nobody->pw_gid};
  std::filesystem::path folder = TemporaryBase();
  for (;;) {
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0 || (status.st_mode & S_IXOTH) == 0) {
      return "nobody cannot pass through " + folder.string() + " to reach the temporary folder " +
             TemporaryBase().string();
    }
    if (folder == folder.parent_path()) return "";
    folder = folder.parent_path();
  }
}

// In a forked child: gives up root for `user`. False when the change failed.
inline bool BecomeUnprivileged(const UnprivilegedUser& user) {
  if (!user.changeFromRoot) return true;
  return setgroups(0, nullptr) == 0 && setgid(user.gid) == 0 && setuid(user.uid) == 0;
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

}  // namespace testenv
