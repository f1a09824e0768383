#include "system/standard_streams.h"

#include <windows.h>

#include <string>

#include "system/files.h"
#include "text/unicode.h"

namespace {

constexpr DWORD kMaxTransfer = DWORD{1} << 30;
constexpr char kCtrlZ = 0x1A;

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// Console input in plain mode: the console edits and echoes the line itself
// and hands it over as UTF-16. What is converted but not yet taken, a high
// surrogate waiting for its pair, and whether Ctrl+Z has ended the input.
std::string consoleText;
std::size_t consoleTaken = 0;
char16_t pendingHighSurrogate = 0;
bool consoleEnded = false;

bool ReadConsoleLine(HANDLE input) {
  wchar_t units[4096];
  DWORD got = 0;
  if (!ReadConsoleW(input, units, 4096, &got, nullptr) || got == 0) return false;
  std::u16string text;
  if (pendingHighSurrogate != 0) text.push_back(pendingHighSurrogate);
  pendingHighSurrogate = 0;
  text.append(reinterpret_cast<const char16_t*>(units), got);
  if (IsHighSurrogate(text.back())) {
    pendingHighSurrogate = text.back();
    text.pop_back();
  }
  // A surrogate without its pair cannot have been typed: it is dropped
  // rather than turned into another character.
  std::string utf8;
  AppendUtf16AsUtf8(utf8, text);
  // Ctrl+Z typed in a console line is the end of input, as for the system's
  // own programs; the text before it still counts.
  const std::size_t end = utf8.find(kCtrlZ);
  if (end != std::string::npos) {
    utf8.resize(end);
    consoleEnded = true;
  }
  consoleText = utf8;
  consoleTaken = 0;
  return true;
}

// Text for a file or a pipe, with the line ends that Windows programs write
// (the C runtime's text mode): CR LF for each line feed that no carriage
// return comes before already.
std::string WithWindowsLineEnds(std::string_view text) {
  std::string lines;
  lines.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) lines.push_back('\r');
    lines.push_back(text[i]);
  }
  return lines;
}

bool WriteAll(DWORD which, std::string_view text) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  std::u16string wide;
  if (IsConsole(handle) && Utf8ToUtf16(text, wide)) {
    std::size_t done = 0;
    while (done < wide.size()) {
      DWORD put = 0;
      const DWORD piece = static_cast<DWORD>(wide.size() - done < 8192 ? wide.size() - done : 8192);
      if (!WriteConsoleW(handle, wide.data() + done, piece, &put, nullptr) || put == 0)
        return false;
      done += put;
    }
    return true;
  }
  const std::string lines = WithWindowsLineEnds(text);
  // A pipe whose reader has gone fails with ERROR_NO_DATA: just a failed write.
  return WriteAllTo(reinterpret_cast<FileHandle>(handle), lines.data(),
                    static_cast<std::int64_t>(lines.size()));
}

}  // namespace

std::int64_t ReadStandardInput(char* buffer, std::int64_t size) {
  if (size <= 0) return 0;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return 0;
  if (IsConsole(input)) {
    while (consoleTaken >= consoleText.size()) {
      if (consoleEnded || !ReadConsoleLine(input)) return 0;
    }
    std::size_t count = consoleText.size() - consoleTaken;
    if (count > static_cast<std::size_t>(size)) count = static_cast<std::size_t>(size);
    consoleText.copy(buffer, count, consoleTaken);
    consoleTaken += count;
    return static_cast<std::int64_t>(count);
  }
  DWORD got = 0;
  const DWORD wanted = static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
  // The end of a pipe is ERROR_BROKEN_PIPE, the end of a file a read of 0.
  if (!ReadFile(input, buffer, wanted, &got, nullptr)) return 0;
  return got;
}

bool WriteStandardOutput(std::string_view text) { return WriteAll(STD_OUTPUT_HANDLE, text); }

bool WriteStandardError(std::string_view text) { return WriteAll(STD_ERROR_HANDLE, text); }
