// The Drive client's answer parsers (listing, metadata, revisions, quota)
// on any body a server may send, through the real client against a local
// server; every name a listing gives becomes a local name that can be
// written and never leaves its folder.
#include "FuzzSupport.h"

#include "engine/uCloudBackup.h"
#include "foundation/Clock.h"
#include "foundation/TextUtil.h"
#include "google/uGoogleAuth.h"
#include "google/uGoogleDrive.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using namespace calvora;

// Answers the first request after each Arm() with the body; later ones
// (further pages) with an empty object, so a listing always ends.
class TAnswerServer {
 public:
  TAnswerServer() {
    server_.Get(".*", [this](const httplib::Request&, httplib::Response& res) {
      std::lock_guard<std::mutex> guard(lock_);
      res.status = 200;
      res.set_content(armed_ ? body_ : std::string("{}"), "application/json; charset=UTF-8");
      armed_ = false;
    });
    // Without it every answer waits for the client's delayed acknowledgement.
    server_.set_tcp_nodelay(true);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void Arm(const std::string& body) {
    std::lock_guard<std::mutex> guard(lock_);
    body_ = body;
    armed_ = true;
  }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  httplib::Server server_;
  std::mutex lock_;
  std::string body_;
  bool armed_ = false;
  int port_ = 0;
  std::thread thread_;
};

struct TClient {
  TAnswerServer server;
  std::unique_ptr<TEnv> env;
  std::unique_ptr<TGoogleAuth> auth;
  std::unique_ptr<TGoogleDrive> drive;
  TClient() {
    TEnv& scratch = fuzz::ScratchEnv();
    TDeploymentSettings deployment;
    deployment.DriveApiBase = deployment.DriveUploadBase = server.BaseUrl();
    env = std::make_unique<TEnv>(scratch.Config(), deployment, SystemClock(), scratch.Processes(), scratch.ProgramDir(),
                                 scratch.TempDir());
    auth = std::make_unique<TGoogleAuth>(*env, "fuzz", "fuzz", 8080, false);
    auth->SetTokenData(TTokenData{"token", "", IncDays(env->Now(), 365)});
    drive = std::make_unique<TGoogleDrive>(*auth);
  }
};

void CheckLocalName(const std::string& driveName) {
  const std::string local = TCloudBackupService::SafeLocalFileName(driveName);
  fuzz::Check(!local.empty() && local != "." && local != "..", "empty local name for " + driveName);
  fuzz::Check(local.size() <= 250, "local name past the limit");
  fuzz::Check(local.find('/') == std::string::npos, "local name leaves its folder");
  fuzz::Check(IsValidUtf8(local), "local name is not UTF-8");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TClient* client = new TClient;
  const std::string body = fuzz::Bytes(data, size);
  std::vector<TDriveFileInfo> files;
  client->server.Arm(body);
  if (client->drive->TryListFiles("folder", files))
    for (const TDriveFileInfo& file : files) CheckLocalName(file.Name);
  client->server.Arm(body);
  CheckLocalName(client->drive->GetFileMetadata("file").Name);
  client->server.Arm(body);
  client->drive->ListFileRevisions("file");
  client->server.Arm(body);
  TDriveStorageQuota quota;
  client->drive->GetStorageQuota(quota);
  return 0;
}
