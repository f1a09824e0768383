#include "system/standard_streams.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "system/files.h"

namespace {

bool WriteAll(int fd, std::string_view text) {
  // Once per process, before the first write: a closed pipe fails the write
  // (EPIPE) instead of raising SIGPIPE.
  static const bool brokenPipesIgnored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  (void)brokenPipesIgnored;
  return WriteAllTo(fd, text.data(), static_cast<std::int64_t>(text.size()));
}

}  // namespace

std::int64_t ReadStandardInput(char* buffer, std::int64_t size) {
  if (size <= 0) return 0;
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buffer, static_cast<std::size_t>(size));
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? n : 0;
  }
}

bool WriteStandardOutput(std::string_view text) { return WriteAll(STDOUT_FILENO, text); }

bool WriteStandardError(std::string_view text) { return WriteAll(STDERR_FILENO, text); }
