#include "system/alert.h"

#include <windows.h>

void SoundAlert() { MessageBeep(0); }

void PauseMilliseconds(int milliseconds) {
  if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}
