#include "cli/CliConsole.h"

#include "platform/terminal.h"

#include <cstdio>

namespace calvora::cli {

void TStdConsole::Out(const std::string& Text) {
  std::fwrite(Text.data(), 1, Text.size(), stdout);
  std::fflush(stdout);
}

void TStdConsole::Err(const std::string& Text) {
  std::fwrite(Text.data(), 1, Text.size(), stderr);
  std::fflush(stderr);
}

bool TStdConsole::OutIsTerminal() const { return platform::IsTerminal(platform::StandardStream::Output); }
bool TStdConsole::InIsTerminal() const { return platform::IsTerminal(platform::StandardStream::Input); }
int TStdConsole::Columns() const { return platform::TerminalColumns(); }

bool TStdConsole::ReadSecret(const std::string& Prompt, std::string& Secret) {
  return platform::ReadHiddenLine(Prompt, Secret);
}

bool TStdConsole::ReadLine(const std::string& Prompt, std::string& Line) {
  if (!Prompt.empty()) Err(Prompt);
  return platform::ReadInputLine(Line);
}

std::string TStdConsole::ReadAllInput() {
  std::string text;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) text.append(buffer, n);
  return text;
}

}  // namespace calvora::cli
