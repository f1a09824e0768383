// The console binding on a POSIX terminal: raw mode, the frame drawn on the
// alternate screen with escape sequences, key bytes decoded into key presses.
#include "system/console_binding.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "system/ending.h"
#include "system/files.h"
#include "terminal/key_decoder.h"
#include "terminal/terminal_frame.h"

namespace {

// ---- what the terminal is sent at the start and on every way out ----------

// At start: title saved (on the terminal's title stack) and set, alternate
// screen, no line wrapping (the last column is written like any other), the
// window asked for 80 x 41.
constexpr char kStartBytes[] = "\x1b[22;0t\x1b]0;Ostrivale\x07\x1b[?1049h\x1b[?7l\x1b[8;41;80t";

// On every way out: cancel any sequence cut short by a signal, colours reset,
// line wrapping back on, cursor shown, main screen back, the saved title back.
constexpr char kRestoreBytes[] = "\x18\x1b[0m\x1b[?7h\x1b[?25h\x1b[?1049l\x1b[23;0t";

// A lone Escape is told from the start of a sequence by the quiet after it.
constexpr int kEscapeQuietMilliseconds = 40;

// ---- state ------------------------------------------------------------------

// Touched by signal handlers: the modes to put back, whether they must be
// put back, whether the window was resized, and the pipe that wakes the
// key wait on a resize.
struct termios savedModes;
volatile sig_atomic_t rawActive = 0;
volatile sig_atomic_t resized = 0;
int wakePipe[2] = {-1, -1};

// Touched by the main flow only: what the terminal shows, the last frame
// (drawn again after a resize), and key input read but not yet handed out.
TerminalView view;
FrameCell frame[kConsoleRows][kConsoleColumns];
int frameCursorRow = 0;
int frameCursorColumn = 0;
bool frameCursorVisible = true;

KeyQueue input;  // a terminal's bytes: its decoder is not plain input
bool inputGone = false;

// ---- output -------------------------------------------------------------------

void WriteAll(const char* bytes, std::size_t size) {
  WriteAllTo(STDOUT_FILENO, bytes, static_cast<std::int64_t>(size));
}

// Puts the terminal back as it was. Async-signal-safe: only write, tcsetattr
// and tcflush, on data prepared before any handler was installed. The flag
// goes down only once everything is back: an ending signal that cuts in
// meanwhile restores again from the start (the restore bytes begin by
// cancelling a sequence cut short), so no way out leaves the terminal raw.
void RestoreTerminal() {
  if (!rawActive) return;
  const ssize_t ignored = write(STDOUT_FILENO, kRestoreBytes, sizeof kRestoreBytes - 1);
  (void)ignored;
  tcsetattr(STDIN_FILENO, TCSADRAIN, &savedModes);
  tcflush(STDIN_FILENO, TCIFLUSH);  // keys still waiting must not reach the shell
  rawActive = 0;
}

void OnResize(int) {
  const int savedErrno = errno;
  resized = 1;
  const char byte = 1;
  const ssize_t ignored = write(wakePipe[1], &byte, 1);
  (void)ignored;
  errno = savedErrno;
}

void ReadTerminalSize() {
  winsize size;
  std::memset(&size, 0, sizeof size);
  int rows = kConsoleRows;
  int columns = kConsoleColumns;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
    rows = size.ws_row;
    columns = size.ws_col;
  }
  SetTerminalSize(view, rows, columns);
}

// Brings the terminal up to the last frame (all of it after a resize), in one write.
void DrawFrame() {
  if (resized) {
    resized = 0;
    ReadTerminalSize();
  }
  std::string out;
  AppendFrame(out, view, &frame[0][0], frameCursorRow, frameCursorColumn, frameCursorVisible);
  if (!out.empty()) WriteAll(out.data(), out.size());
}

// ---- input --------------------------------------------------------------------

void DrainWakePipe() {
  char buffer[64];
  while (read(wakePipe[0], buffer, sizeof buffer) > 0) {
  }
}

// Waits until key bytes are there, drawing the frame again after a resize
// meanwhile (the caller has shown it already). 1: readable, 0: nothing
// within `timeoutMilliseconds` (-1 waits for ever), -1: the terminal has gone.
int WaitForInput(int timeoutMilliseconds) {
  for (;;) {
    if (resized) DrawFrame();
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
    const int ready = poll(fds, 2, timeoutMilliseconds);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (ready == 0) return 0;
    if (fds[1].revents & POLLIN) DrainWakePipe();
    if (fds[0].revents & POLLIN) return 1;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return -1;
  }
}

// Reads more key bytes. 1: bytes came, 0: a quiet spell (only while a key
// may be unfinished), -1: the terminal has gone.
int ReadMoreBytes() {
  if (inputGone) return -1;
  const int ready = WaitForInput(KeyInputPending(input.decoder) ? kEscapeQuietMilliseconds : -1);
  if (ready == 0) return 0;
  if (ready > 0) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return 0;
      if (n > 0) {
        AppendKeyBytes(input, buffer, static_cast<std::size_t>(n));
        return 1;
      }
      break;
    }
  }
  inputGone = true;
  return -1;
}

}  // namespace

bool OpenConsoleBinding() {
  if (rawActive) return true;
  if (isatty(STDIN_FILENO) != 1 || isatty(STDOUT_FILENO) != 1) return false;
  if (tcgetattr(STDIN_FILENO, &savedModes) != 0) return false;
  if (wakePipe[0] < 0 && pipe(wakePipe) != 0) return false;
  for (int fd : wakePipe) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }

  termios raw = savedModes;
  // Input: no SIGINT on a break, no CR to NL or NL to CR, CR kept, no parity
  // check, all eight bits kept, no Ctrl+S / Ctrl+Q flow control (both are keys).
  raw.c_iflag &= ~static_cast<tcflag_t>(BRKINT | ICRNL | INLCR | IGNCR | INPCK | ISTRIP | IXON);
  // Output: no processing (NL is not turned into CR NL behind the frame's back).
  raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  // Eight-bit characters.
  raw.c_cflag |= CS8;
  // Local: no echo, no line editing, no Ctrl+V literal-next and the like, no
  // signals from Ctrl+C, Ctrl+Z or Ctrl+\ (they are keys).
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN | ISIG);
  // A read returns as soon as one byte is there.
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;

  // From here on every way out restores the terminal: an ending signal or a
  // crash through the handler of ending.h, a normal end through
  // CloseConsoleBinding.
  RestoreBeforeEnding(RestoreTerminal);
  struct sigaction onResize;
  std::memset(&onResize, 0, sizeof onResize);
  sigemptyset(&onResize.sa_mask);
  onResize.sa_handler = OnResize;
  onResize.sa_flags = SA_RESTART;
  sigaction(SIGWINCH, &onResize, nullptr);
  rawActive = 1;
  if (tcsetattr(STDIN_FILENO, TCSADRAIN, &raw) != 0) {
    rawActive = 0;
    return false;
  }
  WriteAll(kStartBytes, sizeof kStartBytes - 1);
  view = TerminalView{};
  ReadTerminalSize();
  return true;
}

void ShowConsoleFrame(const FrameCell* cells, int cursorRow, int cursorColumn, bool cursorVisible) {
  if (!rawActive) return;
  std::copy(cells, cells + kConsoleRows * kConsoleColumns, &frame[0][0]);
  frameCursorRow = cursorRow;
  frameCursorColumn = cursorColumn;
  frameCursorVisible = cursorVisible;
  DrawFrame();
}

bool TakeWaitingConsoleKey(BoundKey& key) { return TakeQueuedKey(input, key); }

bool ReadConsoleKey(BoundKey& key) {
  for (;;) {
    if (TakeQueuedKey(input, key)) return true;
    const int more = ReadMoreBytes();
    // After a quiet spell, or at the end of input, an Escape waiting for a
    // sequence is alone.
    if (more > 0 || FinishQueuedKeys(input)) continue;
    if (more < 0) return false;
  }
}

bool WaitForConsoleKey() {
  if (KeyQueueHoldsKey(input)) return true;
  if (inputGone) return false;
  return WaitForInput(-1) > 0;
}

// An ending signal that landed after the restore bytes went out but before
// the raw flag came down would send them again from its handler; blocked
// meanwhile, it ends the program once the terminal is back, with nothing
// left to restore.
void CloseConsoleBinding() { RunWithEndingEventsBlocked(RestoreTerminal); }
