#pragma once
// Fixtures of the Google client tests: a loopback stub server for answers
// the emulator does not give, fake user prompts, and a Drive client bound
// to the emulator with a valid token.
#include "DevCloudFixture.h"
#include "TestSupport.h"
#include "foundation/DateTime.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "google/UserPrompts.h"
#include "google/uGoogleAuth.h"
#include "google/uGoogleDrive.h"
#include "platform/http_client.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace calvora::test {

// A loopback HTTP server with the routes the test registers.
class TStubServer {
 public:
  explicit TStubServer(const std::function<void(httplib::Server&)>& routes) {
    routes(server_);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~TStubServer() {
    server_.stop();
    thread_.join();
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

class TFakePrompts : public TUserPrompts {
 public:
  bool OpenUrl(const std::string& url) override {
    urls.push_back(url);
    if (onOpen) onOpen(url);
    return true;
  }
  std::string ReadClipboard() override { return clipboard; }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }

  std::vector<std::string> urls;
  std::vector<std::string> messages;
  std::string clipboard;
  std::function<void(const std::string&)> onOpen;
};

// Deterministic bytes for content checks.
inline std::string PatternBytes(std::size_t size, std::uint32_t seed = 1) {
  std::string out(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    out[i] = static_cast<char>(x >> 24);
  }
  return out;
}

// A Drive client on the emulator, its token valid for an hour.
class DriveTest : public ::testing::Test {
 protected:
  DriveTest()
      : env(cloud.Deployment()),
        auth(env.Env(), TDevCloudFixture::kClientID, TDevCloudFixture::kClientSecret, 8080, false, &prompts),
        drive(auth) {
    TTokenData token;
    token.AccessToken = cloud.AccessToken();
    token.RefreshToken = cloud.RefreshToken();
    token.ExpiresAt = IncHours(env.Env().Now(), 1);
    auth.SetTokenData(token);
  }

  devcloud::GoogleState& Google() { return cloud.Google(); }
  std::int64_t Requests(const std::string& method = "", const std::string& prefix = "") {
    return cloud.Cloud().RequestCount(method, prefix);
  }
  // A local file of `content` below the test's temporary folder.
  std::string LocalFile(const std::string& name, const std::string& content) {
    std::string path = local.File(name);
    WriteFile(path, content);
    return path;
  }
  void AddFault(devcloud::FaultRule::Kind kind, const std::string& method, const std::string& path, int count,
                std::int64_t afterBytes = 0, int skip = 0, int status = 503) {
    devcloud::FaultRule rule;
    rule.kind = kind;
    rule.status = status;
    rule.reason = status == 429 ? "rateLimitExceeded" : "backendError";
    rule.method = method;
    rule.pathPattern = path;
    rule.remaining = count;
    rule.afterBytes = afterBytes;
    rule.skip = skip;
    cloud.Cloud().AddFault(rule);
  }

  TDevCloudFixture cloud;
  TTestEnv env;
  TFakePrompts prompts;
  TGoogleAuth auth;
  TGoogleDrive drive;
  TTempDir local;
  TLogCapture log;
};

}  // namespace calvora::test
