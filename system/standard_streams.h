// Standard input, output and error as byte streams: plain mode reads its
// answers from standard input and writes the final screen and its error
// lines, in UTF-8, whatever the streams are attached to.
#pragma once

#include <cstdint>
#include <string_view>

// Reads up to `size` bytes of standard input, waiting until at least one is
// there. Returns the count, or 0 at the end of input and when the stream has
// failed or gone. A Windows console in plain mode gives its typed text as
// UTF-8, and a line holding Ctrl+Z ends the input there.
std::int64_t ReadStandardInput(char* buffer, std::int64_t size);

// Writes all of `text` to standard output or error, going on after
// interruptions and short writes. False when the stream refuses it; a reader
// that went away (`ostrivale | head`) makes the write fail and never ends the
// program with a signal. A Windows console is given the text as UTF-16, so
// that it shows the characters whatever its code page; a file or a pipe on
// Windows gets it with Windows' line ends, CR LF (each line feed not already
// after a carriage return gets one), as the system's own programs write text.
// POSIX writes the bytes as they are.
bool WriteStandardOutput(std::string_view text);
bool WriteStandardError(std::string_view text);
