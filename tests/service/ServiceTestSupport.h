#pragma once
// Pieces the service tests share: the emulator with the built-in service
// login, a small HTTP file server for update downloads, executables with a
// version marker, and a process runner that records detached starts.
#include "DevCloudFixture.h"
#include "TestSupport.h"

#include "platform/process.h"

#include <httplib.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace calvora::test {

inline constexpr const char kServiceEmail[] = "servis@calvora.test";
inline constexpr const char kServicePassword[] = "Sv-test-7Qm2";

// The emulator with the service login registered.
class TServiceCloud : public TDevCloudFixture {
 public:
  TServiceCloud();
  TDeploymentSettings Deployment() const;
};

// Serves fixed bodies on loopback: path -> (status, body).
class TFileServer {
 public:
  TFileServer();
  ~TFileServer();
  void Put(const std::string& path, const std::string& body, int status = 200);
  std::string Url(const std::string& path) const;
  int Hits(const std::string& path) const;

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex lock_;
  std::map<std::string, std::pair<int, std::string>> files_;
  std::map<std::string, int> hits_;
};

// An ELF file of at least 64 KiB that carries the version marker.
std::string FakeExecutable(const std::string& version, size_t size = 70000);

// The system runner for Run; StartDetached only records the request.
class TRecordingRunner : public platform::ProcessRunner {
 public:
  platform::ProcessResult Run(const platform::ProcessRequest& request) override;
  bool StartDetached(const platform::ProcessRequest& request, std::string& error) override;
  std::vector<platform::ProcessRequest> Detached() const;
  bool failDetached = false;

 private:
  mutable std::mutex lock_;
  std::vector<platform::ProcessRequest> detached_;
};

}  // namespace calvora::test
