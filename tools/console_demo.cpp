// The console room on its own, as the dialogue uses it: a banner in colours,
// the input prompt with a typed line (Backspace works), the file-not-found
// message box, the typed line shown back and the final key wait. For a look
// at a console or a terminal, and for tests/console/console_in_tmux.sh, which
// drives it in a tmux pane (natively, or under wine as a Windows program).
#include <string>

#include "console/console.h"

int main() {
  SetupConsole();
  HideCursor();
  EndLine();
  PrintText("   Ostrivale console check");
  EndLine();
  SetColor(kBlue, kBrightWhite);
  PrintText("   blue on bright white");
  EndLine();
  EndLine();
  EndLine();
  EndLine();
  EndLine();
  SetColor(kDarkGrey, kBrightWhite);
  const int promptRow = CursorRow();
  PrintText("   Input file?");
  EndLine();
  SetColor(kBlack, kBrightWhite);
  Locate(promptRow, kAnswerColumn);
  const TypedLine name = ReadLine();
  if (name.inputEnded) {
    ReportInputEnded("   Input file?");
    EndProgram(1);
  }
  Pause(100);
  Beep();
  ShowMessageBox("            File not found.\\n Please enter a valid filename",
                 "              ERROR");
  SetColor(kDarkGrey, kBrightWhite);
  PrintText("   typed: ");
  SetColor(kBlack, kBrightWhite);
  PrintText(name.text);
  EndLine();
  SetColor(kDarkGrey, kBrightWhite);
  PrintText("   press any key to quit");
  EndLine();
  WaitKey();
  EndProgram(0);
}
