#include "console/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "console/terminal_frame.h"

namespace {

// Sent on every way out: cancel any sequence cut short by a signal, colours
// reset, line wrapping back on, cursor shown, main screen back, the title
// that was saved at start back.
constexpr char kRestoreBytes[] = "\x18\x1b[0m\x1b[?7h\x1b[?25h\x1b[?1049l\x1b[23;0t";

// Sent at start: title saved and set, alternate screen, no line wrapping
// (the last column is written like any other), the window asked for 80 x 41.
constexpr char kStartBytes[] =
    "\x1b[22;0t\x1b]0;Ostrivale\x07\x1b[?1049h\x1b[?7l\x1b[8;41;80t";

// A lone Escape is told from the start of a sequence by the quiet after it.
constexpr int kEscapeQuietMilliseconds = 40;

struct termios savedModes;
volatile sig_atomic_t rawActive = 0;
volatile sig_atomic_t resized = 0;
int wakePipe[2] = {-1, -1};

// Drawing state: touched by the main flow only, never by signal handlers.
TerminalView view;
bool boxActive = false;
bool boxDrawn = false;
std::string boxText;
std::string boxTitle;

void WriteAll(const char* bytes, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = write(STDOUT_FILENO, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd out = {STDOUT_FILENO, POLLOUT, 0};
      poll(&out, 1, 100);
      continue;
    }
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// Puts the terminal back as it was. Async-signal-safe: only write, tcsetattr
// and tcflush on data prepared before any handler was installed.
void RestoreTerminal() {
  if (!rawActive) return;
  rawActive = 0;
  ssize_t ignored = write(STDOUT_FILENO, kRestoreBytes, sizeof kRestoreBytes - 1);
  (void)ignored;
  tcsetattr(STDIN_FILENO, TCSADRAIN, &savedModes);
  tcflush(STDIN_FILENO, TCIFLUSH);  // keys still waiting must not reach the shell
}

void OnEndingSignal(int signalNumber) {
  int savedErrno = errno;
  RestoreTerminal();
  // The handler was reset to the default action on entry (SA_RESETHAND):
  // raising the signal again ends the process the way the signal means.
  raise(signalNumber);
  errno = savedErrno;
}

void OnResize(int) {
  int savedErrno = errno;
  resized = 1;
  char byte = 1;
  ssize_t ignored = write(wakePipe[1], &byte, 1);
  (void)ignored;
  errno = savedErrno;
}

void InstallHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  action.sa_handler = OnEndingSignal;
  action.sa_flags = SA_RESETHAND;
  for (int signalNumber : {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
    sigaction(signalNumber, &action, nullptr);
  action.sa_handler = OnResize;
  action.sa_flags = SA_RESTART;
  sigaction(SIGWINCH, &action, nullptr);
}

void ReadTerminalSize() {
  winsize size;
  std::memset(&size, 0, sizeof size);
  int rows = kScreenRows;
  int columns = kScreenColumns;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
    rows = size.ws_row;
    columns = size.ws_col;
  }
  SetTerminalSize(view, rows, columns);
}

void DrainWakePipe() {
  char buffer[64];
  while (read(wakePipe[0], buffer, sizeof buffer) > 0) {
  }
}

// Builds the frame for the present screen (and the message box while one is
// up) into `out`.
void BuildFrame(std::string& out) {
  if (resized) {
    resized = 0;
    ReadTerminalSize();
  }
  bool afresh = AppendFrame(out, view, Console().screen, !boxActive);
  if (boxActive && (afresh || !boxDrawn)) {
    AppendMessageBox(out, view, boxText, boxTitle);
    boxDrawn = true;
  }
}

// Waits until key bytes are there, redrawing after a resize. 1: readable,
// 0: nothing within `timeoutMilliseconds` (-1 waits for ever), -1: the
// terminal has gone.
int WaitForInput(int timeoutMilliseconds) {
  for (;;) {
    TerminalRefresh();
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
    int ready = poll(fds, 2, timeoutMilliseconds);
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

}  // namespace

bool TerminalOpen() {
  if (tcgetattr(STDIN_FILENO, &savedModes) != 0) return false;
  if (pipe(wakePipe) != 0) return false;
  for (int fd : wakePipe) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }

  termios raw = savedModes;
  raw.c_iflag &= ~static_cast<tcflag_t>(BRKINT | ICRNL | INLCR | IGNCR | INPCK | ISTRIP | IXON);
  raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  raw.c_cflag |= CS8;
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN | ISIG);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;

  InstallHandlers();
  rawActive = 1;  // from here on every way out restores the terminal
  if (tcsetattr(STDIN_FILENO, TCSADRAIN, &raw) != 0) {
    rawActive = 0;
    return false;
  }
  WriteAll(kStartBytes, sizeof kStartBytes - 1);
  view = TerminalView{};
  ReadTerminalSize();
  return true;
}

void TerminalRefresh() {
  std::string out;
  BuildFrame(out);
  if (!out.empty()) WriteAll(out.data(), out.size());
}

TerminalInput TerminalReadInput(ConsoleState& console, bool quietEndsKey) {
  int ready = WaitForInput(quietEndsKey ? kEscapeQuietMilliseconds : -1);
  if (ready == 0) return TerminalInput::kQuiet;
  if (ready < 0) return TerminalInput::kEnded;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return TerminalInput::kQuiet;
    if (n <= 0) return TerminalInput::kEnded;
    console.inputBytes.append(buffer, static_cast<std::size_t>(n));
    return TerminalInput::kBytes;
  }
}

void TerminalWaitForKey() { WaitForInput(-1); }

void TerminalBeep() {
  std::string out;
  BuildFrame(out);
  out += '\a';
  WriteAll(out.data(), out.size());
}

void TerminalPause(int milliseconds) {
  TerminalRefresh();
  if (milliseconds <= 0) return;
  timespec left = {milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void TerminalShowMessageBox(std::string_view text, std::string_view title) {
  boxText.assign(text);
  boxTitle.assign(title);
  boxActive = true;
  boxDrawn = false;
  TerminalRefresh();
}

void TerminalCloseMessageBox() {
  boxActive = false;
  ForgetMessageBox(view, boxText, boxTitle);  // the next frame redraws what was under it
  TerminalRefresh();
}

void TerminalClose() {
  // No ending signal may cut in between the flag and the restore.
  sigset_t ending;
  sigset_t previous;
  sigemptyset(&ending);
  for (int signalNumber : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) sigaddset(&ending, signalNumber);
  sigprocmask(SIG_BLOCK, &ending, &previous);
  RestoreTerminal();
  sigprocmask(SIG_SETMASK, &previous, nullptr);
}
