// The screen operations every dialogue of the tool uses.
//
// The screen model (console/screen.h) is the truth: an 80 x 41 grid of cells,
// the cursor and the current colours. These operations change the model; the
// console only shows it. Three ways to run, the same on every system:
//   - terminal mode: standard input and output are both interactive (terminals,
//     Windows consoles); the console binding (system/console_binding.h) shows
//     the model's cells and gives the key presses, raw;
//   - plain mode: either is not; keys come from standard input as UTF-8 lines,
//     nothing is drawn while the program runs, the final screen is written to
//     standard output as UTF-8 text when the console is closed, and message
//     boxes are "ERROR:" lines on standard error;
//   - headless mode (tests): keys come from a script, the screen stays in memory.
#pragma once

#include <string>
#include <string_view>

// Console colour numbers used by the dialogue.
constexpr int kBlack = 0;
constexpr int kBlue = 1;
constexpr int kDarkGrey = 8;
constexpr int kBrightWhite = 15;

// Columns of the dialogue's layout (one-based, as Locate takes them), shared
// by every room that writes on the screen: where status and question lines
// start, and where a typed answer starts after its prompt.
constexpr int kTextColumn = 4;
constexpr int kAnswerColumn = 18;

// True in plain mode: the answers come from a script, not from a person at
// the console.
bool AnswersComeFromScript();

// Opens the console once, before anything is shown: the console binding when
// the streams are interactive (raw keys, title "Ostrivale", the console's own
// screen), the x87 unit in the extended precision mode, black on bright white,
// screen cleared.
void SetupConsole();

void ClearScreen();
void SetColor(int foreground, int background);
void HideCursor();
void Locate(int row, int column);
int CursorRow();
// Text is UTF-8 throughout: what PrintText writes, what ReadLine returns and
// what ShowMessageBox shows.
void PrintText(std::string_view text);
void PrintNumber(double value, int digits);
void EndLine();
// A line typed with echo, and whether the input ended before the line did
// (standard input closed, the terminal gone): then it is no answer, and the
// caller decides what follows (the job: ReportInputEnded, status 1). From
// plain input a last line without a line end is still a line.
struct TypedLine {
  std::string text;
  bool inputEnded = false;
};
TypedLine ReadLine();

// Closes the console (a terminal is itself again first) and writes on
// standard error the line that names `prompt`, the prompt whose answer the
// input never gave: ERROR: input ended at the prompt "Output file?".
void ReportInputEnded(std::string_view prompt);
void WaitKey();
void Beep();
void Pause(int milliseconds);
void ShowMessageBox(std::string_view text, std::string_view title);

// x rounded to `places` decimal places, computed with a 64-bit significand.
double RoundToPlaces(double x, int places);

// Shows the screen on the console in one write (a terminal is sent only what
// changed). Called before every long computing step so that its status line
// is on screen meanwhile; reads, waits and message boxes refresh by themselves.
void RefreshScreen();

// A transient line (the progress of a long step): `text` at (row, column)
// in the given colours, shown over the screen at once in terminal mode until
// it is replaced or cleared. The screen itself does not change: the cursor,
// the colours and the cells it covers stay as they are, so what it covered
// shows again once it is cleared, and plain mode's final screen never holds
// it.
void ShowTransientText(int row, int column, std::string_view text, int foreground, int background);
void ClearTransientText();

// Puts the console back as it was (terminal mode) or writes the final screen
// to standard output (plain mode). Safe to call more than once.
void CloseConsole();

// Closes the console and ends the process with `status`.
[[noreturn]] void EndProgram(int status);
