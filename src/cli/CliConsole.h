#pragma once
// What the command-line program reads and writes: standard output for
// results, standard error for the one-line failure and prompts, secrets
// from a prompt without echo or from standard input. Tests substitute
// their own.
#include <string>

namespace calvora::cli {

class TCliConsole {
 public:
  virtual ~TCliConsole() = default;
  virtual void Out(const std::string& Text) = 0;
  virtual void Err(const std::string& Text) = 0;
  virtual bool OutIsTerminal() const = 0;
  virtual bool InIsTerminal() const = 0;
  virtual int Columns() const = 0;
  // One line without echo; false when there is no terminal to ask.
  virtual bool ReadSecret(const std::string& Prompt, std::string& Secret) = 0;
  // One line of standard input (echoed on a terminal after the prompt).
  virtual bool ReadLine(const std::string& Prompt, std::string& Line) = 0;
  // All of standard input.
  virtual std::string ReadAllInput() = 0;
};

// The process's own streams and terminal.
class TStdConsole : public TCliConsole {
 public:
  void Out(const std::string& Text) override;
  void Err(const std::string& Text) override;
  bool OutIsTerminal() const override;
  bool InIsTerminal() const override;
  int Columns() const override;
  bool ReadSecret(const std::string& Prompt, std::string& Secret) override;
  bool ReadLine(const std::string& Prompt, std::string& Line) override;
  std::string ReadAllInput() override;
};

}  // namespace calvora::cli
