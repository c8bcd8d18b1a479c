#include "platform/terminal.h"

#include <csignal>
#include <cstdio>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace calvora::platform {
namespace {

int Descriptor(StandardStream stream) {
  switch (stream) {
    case StandardStream::Input:
      return STDIN_FILENO;
    case StandardStream::Output:
      return STDOUT_FILENO;
    case StandardStream::Error:
      return STDERR_FILENO;
  }
  return -1;
}

// Byte by byte from the descriptor, so nothing beyond the line is taken
// from a pipe that later reads still need.
bool ReadLineFrom(int fd, std::string& line) {
  line.clear();
  bool any = false;
  char c = 0;
  while (true) {
    const ssize_t n = read(fd, &c, 1);
    if (n <= 0) break;
    any = true;
    if (c == '\n') break;
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

// The terminal's settings while a secret is read without echo, so that
// Ctrl-C at the prompt gives the terminal back its echo before the program
// ends.
termios g_savedTerminal{};
volatile sig_atomic_t g_echoOff = 0;

void RestoreEchoAndEnd(int signal) {
  if (g_echoOff) tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

bool IsTerminal(StandardStream stream) { return isatty(Descriptor(stream)) == 1; }

int TerminalColumns() {
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    winsize size{};
    if (isatty(fd) && ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  }
  return 80;
}

bool ReadHiddenLine(const std::string& prompt, std::string& line) {
  line.clear();
  if (!isatty(STDIN_FILENO)) return false;
  const bool haveSaved = tcgetattr(STDIN_FILENO, &g_savedTerminal) == 0;
  using THandler = void (*)(int);
  THandler previousInt = SIG_DFL, previousTerm = SIG_DFL;
  if (haveSaved) {
    termios quiet = g_savedTerminal;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    previousInt = std::signal(SIGINT, RestoreEchoAndEnd);
    previousTerm = std::signal(SIGTERM, RestoreEchoAndEnd);
    g_echoOff = 1;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  // The prompt only once echo is off: the flush above would drop what was
  // typed in answer to an earlier prompt.
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  const bool read = ReadLineFrom(STDIN_FILENO, line);
  if (haveSaved) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
    g_echoOff = 0;
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);
  }
  if (!read) std::fputc('\n', stderr);
  return read;
}

bool ReadInputLine(std::string& line) { return ReadLineFrom(STDIN_FILENO, line); }

}  // namespace calvora::platform
