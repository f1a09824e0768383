#include "console/console.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "console/character_width.h"
#include "console/console_state.h"
#include "console/message_box.h"
#include "console/number_form.h"
#include "console/screen_model.h"
#include "processor/precision.h"
#include "system/alert.h"
#include "system/console_binding.h"
#include "system/standard_streams.h"
#include "text/unicode.h"

namespace {

// The longest line ReadLine keeps, in characters.
constexpr std::size_t kMaxLineLength = 10000;

// The report on standard error when input ends before a line is complete.
constexpr std::string_view kInputEndedAtPrompt = "ERROR: input ended at the prompt \"";
constexpr std::string_view kInputEndedAtPromptEnd = "\"\n";

bool UsesTerminal() { return Console().mode == ConsoleMode::kTerminal && !Console().closed; }

// Terminal mode: shows the screen (or the message box over it) through the
// console binding.
void ShowScreen(const ConsoleState& c) {
  static FrameCell frame[kScreenRows * kScreenColumns];
  const Screen& shown = c.boxShown ? c.boxScreen : c.screen;
  if (c.transientText.empty() || c.boxShown) {
    ModelFrame(shown, frame);
  } else {
    // The transient line over a copy, the cursor left where the screen has it.
    static Screen withLine;
    withLine = shown;
    ModelLocate(withLine, c.transientRow, c.transientColumn);
    ModelSetColor(withLine, c.transientForeground, c.transientBackground);
    ModelPrint(withLine, c.transientText);
    withLine.row = shown.row;
    withLine.column = shown.column;
    withLine.pendingWrap = shown.pendingWrap;
    ModelFrame(withLine, frame);
  }
  ShowConsoleFrame(frame, shown.row, shown.column, shown.cursorVisible);
}

// Headless mode logs the transient line as it now stands, with the screen
// under it, for the tests.
void LogTransientText(ConsoleState& c) {
  if (c.mode != ConsoleMode::kHeadless) return;
  c.transientLog.push_back(TransientRecord{c.transientText, c.transientRow, c.transientColumn,
                                           c.transientForeground, c.transientBackground,
                                           ScreenPlainText(c.screen)});
}

// Reads more key bytes of plain input into the input buffer; false at the end
// of input.
bool ReadMoreInput(ConsoleState& c) {
  if (c.inputEnded) return false;
  char buffer[4096];
  const std::int64_t count =
      c.mode == ConsoleMode::kHeadless ? 0 : ReadStandardInput(buffer, sizeof buffer);
  if (count <= 0) {
    c.inputEnded = true;  // (headless: the whole script was handed over at the start)
    return false;
  }
  AppendKeyBytes(c.input, buffer, static_cast<std::size_t>(count));
  return true;
}

// The next key press, or false at the end of input.
bool NextKey(Key* key) {
  ConsoleState& c = Console();
  if (UsesTerminal()) {
    // Keys typed at once (a paste, keys typed during a step) are taken
    // together, and the screen shown once before the wait for more.
    if (TakeWaitingConsoleKey(*key)) return true;
    ShowScreen(c);
    return ReadConsoleKey(*key);
  }
  for (;;) {
    if (TakeQueuedKey(c.input, *key)) return true;
    // At the end of input an Escape waiting for a sequence is alone.
    if (ReadMoreInput(c) || FinishQueuedKeys(c.input)) continue;
    return false;
  }
}

}  // namespace

ConsoleState& Console() {
  static ConsoleState state;
  return state;
}

bool AnswersComeFromScript() { return Console().mode == ConsoleMode::kPlain; }

void SetupConsole() {
  SetExtendedPrecisionMode();
  ConsoleState& c = Console();
  if (c.mode == ConsoleMode::kUnopened) {
    c.mode = OpenConsoleBinding() ? ConsoleMode::kTerminal : ConsoleMode::kPlain;
    std::atexit(CloseConsole);
  }
  SetColor(kBlack, kBrightWhite);
  ClearScreen();
}

void ClearScreen() { ModelClear(Console().screen); }

void SetColor(int foreground, int background) {
  ModelSetColor(Console().screen, foreground, background);
}

void HideCursor() { Console().screen.cursorVisible = false; }

void Locate(int row, int column) { ModelLocate(Console().screen, row, column); }

int CursorRow() { return Console().screen.row + 1; }

void PrintText(std::string_view text) { ModelPrint(Console().screen, text); }

void PrintNumber(double value, int digits) {
  ModelPrint(Console().screen, NumberDisplayForm(value, digits));
}

void EndLine() { ModelEndLine(Console().screen); }

void ReportInputEnded(std::string_view prompt) {
  CloseConsole();  // first, so that a terminal is itself again before the report
  std::string report(kInputEndedAtPrompt);
  report += TrimBlanks(prompt);
  report += kInputEndedAtPromptEnd;
  WriteStandardError(report);
}

TypedLine ReadLine() {
  ConsoleState& c = Console();
  bool wasHidden = !c.screen.cursorVisible;
  c.screen.cursorVisible = true;
  // A script's line is taken whole, characters of no width included; a person
  // at a terminal cannot type such a character on its own (it would show
  // nothing), so there it is refused like a control key.
  const bool fromScript = c.mode != ConsoleMode::kTerminal;
  std::string line;  // UTF-8, and raw bytes from a script as they came
  // For each character kept: its bytes in `line`, and whether it took cells.
  struct Kept {
    std::uint8_t bytes;
    bool shown;
  };
  std::vector<Kept> kept;
  bool anyKey = false;
  for (;;) {
    Key key;
    if (!NextKey(&key)) {
      if (fromScript && anyKey) break;  // the last line had no line end
      if (wasHidden) c.screen.cursorVisible = false;
      return TypedLine{line, true};
    }
    anyKey = true;
    if (key.kind == KeyKind::kEnter) break;
    if (key.kind == KeyKind::kBackspace) {
      if (!kept.empty()) {
        line.resize(line.size() - kept.back().bytes);
        if (kept.back().shown) ModelBackspace(c.screen);
        kept.pop_back();
      }
    } else if (kept.size() >= kMaxLineLength) {
      // full: nothing more is kept or echoed
    } else if (key.kind == KeyKind::kCharacter) {
      const bool shown = CharacterWidth(key.code) > 0;
      if (!shown && !fromScript) continue;
      const std::size_t before = line.size();
      AppendUtf8(line, key.code);
      kept.push_back(Kept{static_cast<std::uint8_t>(line.size() - before), shown});
      ModelPutCharacter(c.screen, key.code);
    } else if (key.kind == KeyKind::kRawByte) {
      // Kept as it came, so the name stays the one the script gave; shown as
      // the replacement character.
      line.push_back(static_cast<char>(key.code));
      kept.push_back(Kept{1, true});
      ModelPutCharacter(c.screen, kReplacementCharacter);
    }
  }
  ModelEndLine(c.screen);
  if (wasHidden) c.screen.cursorVisible = false;
  return TypedLine{line, false};
}

void WaitKey() {
  ConsoleState& c = Console();
  if (UsesTerminal()) {
    ShowScreen(c);
    WaitForConsoleKey();
    return;
  }
  if (KeyQueueHoldsKey(c.input) || c.inputEnded || c.mode == ConsoleMode::kHeadless) return;
  ReadMoreInput(c);  // returns once bytes have come, or at the end of input
}

void Beep() {
  ++Console().beepCount;
  if (!UsesTerminal()) return;
  ShowScreen(Console());  // the alert goes with what it is about
  SoundAlert();
}

void Pause(int milliseconds) {
  if (!UsesTerminal()) return;
  ShowScreen(Console());
  PauseMilliseconds(milliseconds);
}

void ShowMessageBox(std::string_view text, std::string_view title) {
  ConsoleState& c = Console();
  c.messageBoxes.push_back(MessageBoxRecord{std::string(text), std::string(title)});
  if (c.mode == ConsoleMode::kHeadless) return;
  if (UsesTerminal()) {
    c.boxScreen = MessageBoxOverlay(c.screen, text, title);
    c.boxShown = true;
    for (;;) {
      Key key;
      if (!NextKey(&key)) break;  // the console has gone: nobody can close it
      if (key.kind == KeyKind::kEnter || key.kind == KeyKind::kEscape ||
          (key.kind == KeyKind::kCharacter && key.code == ' '))
        break;
    }
    c.boxShown = false;
    ShowScreen(c);  // what was under the box
    return;
  }
  WriteStandardError("ERROR: " + MessageLine(text) + "\n");
}

void RefreshScreen() {
  if (UsesTerminal()) ShowScreen(Console());
}

void ShowTransientText(int row, int column, std::string_view text, int foreground, int background) {
  ConsoleState& c = Console();
  c.transientText = text;
  c.transientRow = row;
  c.transientColumn = column;
  c.transientForeground = foreground;
  c.transientBackground = background;
  LogTransientText(c);
  RefreshScreen();
}

void ClearTransientText() {
  ConsoleState& c = Console();
  if (c.transientText.empty()) return;
  c.transientText.clear();
  LogTransientText(c);
  RefreshScreen();
}

void CloseConsole() {
  ConsoleState& c = Console();
  if (c.closed) return;
  c.closed = true;
  if (c.mode == ConsoleMode::kTerminal) {
    CloseConsoleBinding();
  } else if (c.mode == ConsoleMode::kPlain) {
    WriteStandardOutput(ScreenPlainText(c.screen));
  }
}

void EndProgram(int status) {
  CloseConsole();
  std::exit(status);
}
