#include "system/alert.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "system/files.h"

void SoundAlert() {
  const char bell = '\a';
  WriteAllTo(STDOUT_FILENO, &bell, 1);
}

void PauseMilliseconds(int milliseconds) {
  if (milliseconds <= 0) return;
  timespec left = {milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
