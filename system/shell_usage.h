// How the program is used from this system's own shell, where that differs
// between systems: the usage text (app/command_line) shows a script's job in
// that shell's syntax, and names the document that describes the whole
// program as it is shipped for this system.
#pragma once

#include <string_view>

// A job run by a script: take1.wav filtered with E into filtered.wav, the
// final screen written to screen.txt.
struct ShellExample {
  std::string_view shell;     // the shell it is written for where the system has several, else ""
  std::string_view commands;  // one command a line, each ended by a line feed
};

//   POSIX: the answers printed into a pipe to the program.
//   Windows, Command Prompt: the answers echoed into a file one by one, which
//     is then the program's standard input. Not a block of echo commands in
//     parentheses, piped or redirected at once: Command Prompt runs a block
//     before a pipe from a rewritten copy of it that can add a blank to the
//     end of an answer, and wine's cmd, where the tests run the example,
//     redirects no block at all.
ShellExample PlainModeExample();

// The document that describes the whole dialogue and every message, as the
// subject of a sentence: the manual page (POSIX), or the README.txt that the
// zip puts beside the program (Windows).
std::string_view FullDescription();
