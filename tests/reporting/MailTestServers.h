#pragma once
// The local SMTP and POP3 servers of tests/support, started as background
// processes for one test and stopped by pid.
#include "foundation/JsonText.h"
#include "TestSupport.h"

#include <string>
#include <vector>

namespace calvora::test {

class TFixtureServer {
 public:
  // Runs tests/support/<script> with Debian's python3 and `arguments`
  // (where "{dir}" stands for the server's own folder); false when it did
  // not come up, with its output in `error`.
  bool Start(const std::string& script, std::vector<std::string> arguments, std::string& error);
  void Stop();
  ~TFixtureServer() { Stop(); }
  int Port() const { return port_; }
  const std::string& Folder() const { return folder_.Path(); }

 private:
  TTempDir folder_;
  int port_ = 0;
  std::string pid_;
};

// SMTP: every accepted message as {"from","to","login","subject","body"}.
class TSmtpTestServer : public TFixtureServer {
 public:
  bool Start(std::vector<std::string> options, std::string& error);
  std::vector<TJson> Messages() const;
};

}  // namespace calvora::test
