// The screen operations every dialogue of the tool uses.
//
// The screen model (console/screen.h) is the truth: an 80 x 41 grid of cells,
// the cursor and the current colours. These operations change the model; the
// terminal only shows it. Three ways to run:
//   - terminal mode: standard input and output are both terminals; the model is
//     drawn on the alternate screen and keys are read in raw mode;
//   - plain mode: either is not a terminal; keys come from standard input,
//     nothing is drawn while the program runs and the final screen is written to
//     standard output as plain text when the console is closed;
//   - headless mode (tests): keys come from a script, the screen stays in memory.
#pragma once

#include <string>
#include <string_view>

// Console colour numbers used by the dialogue.
constexpr int kBlack = 0;
constexpr int kBlue = 1;
constexpr int kDarkGrey = 8;
constexpr int kBrightWhite = 15;

// Opens the console once, before anything is shown: raw keys, alternate
// screen, title "Ostrivale", black on bright white, screen cleared.
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
// Reads one typed line with echo. `prompt` is the text of the prompt the line
// answers: when input ends before the line does, the console is closed, one
// line naming that prompt goes to standard error and the program ends with
// status 1. From plain input a last line without a line end is still a line.
std::string ReadLine(std::string_view prompt = {});
void WaitKey();
void Beep();
void Pause(int milliseconds);
void ShowMessageBox(std::string_view text, std::string_view title);

// x rounded to `places` decimal places, computed with a 64-bit significand.
double RoundToPlaces(double x, int places);

// Sends what changed on the screen to the terminal in one write. Called before
// every long computing step so that its status line is on screen meanwhile;
// reads, waits and message boxes refresh by themselves.
void RefreshScreen();

// Restores the terminal (terminal mode) or writes the final screen to standard
// output (plain mode). Safe to call more than once.
void CloseConsole();

// Closes the console and ends the process with `status`.
[[noreturn]] void EndProgram(int status);
