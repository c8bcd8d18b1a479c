#pragma once
// The terminal the command-line program talks to: whether a standard stream
// is one, its width, and reading a secret without echo.
#include <string>

namespace calvora::platform {

enum class StandardStream { Input, Output, Error };

bool IsTerminal(StandardStream stream);
// Columns of the terminal on standard output (else standard error); 80
// when neither is a terminal or the size is unknown.
int TerminalColumns();
// Writes `prompt` to standard error and reads one line from the terminal on
// standard input with echo off (restored afterwards, also when the line is
// cut short). False when standard input is no terminal or the input ended.
bool ReadHiddenLine(const std::string& prompt, std::string& line);
// Reads one line (without its line end) from standard input, echoed when
// it is a terminal. False at end of input with nothing read.
bool ReadInputLine(std::string& line);

}  // namespace calvora::platform
