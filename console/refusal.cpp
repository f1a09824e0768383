#include "console/refusal.h"

#include "console/console.h"

void ShowRefusal(const RefusalBox& box) {
  if (box.pauseFirst) Pause(100);
  Beep();
  ShowMessageBox(box.text, box.title);
}
