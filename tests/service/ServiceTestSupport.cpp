#include "ServiceTestSupport.h"

#include "AccountDirectoryState.h"
#include "service/uAppUpdater.h"

#include <stdexcept>

namespace calvora::test {

TServiceCloud::TServiceCloud() { Cloud().Account().AddUser(kServiceEmail, kServicePassword); }

TDeploymentSettings TServiceCloud::Deployment() const {
  TDeploymentSettings deployment = TDevCloudFixture::Deployment();
  deployment.ServiceEmail = kServiceEmail;
  deployment.ServicePassword = kServicePassword;
  return deployment;
}

TFileServer::TFileServer() {
  server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    std::lock_guard<std::mutex> guard(lock_);
    ++hits_[request.path];
    auto it = files_.find(request.path);
    if (it == files_.end()) {
      response.status = 404;
      response.set_content("<html>not found</html>", "text/html");
      return;
    }
    response.status = it->second.first;
    response.set_content(it->second.second, "application/octet-stream");
  });
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("file server did not bind");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
}

TFileServer::~TFileServer() {
  server_.stop();
  thread_.join();
}

void TFileServer::Put(const std::string& path, const std::string& body, int status) {
  std::lock_guard<std::mutex> guard(lock_);
  files_[path] = {status, body};
}

std::string TFileServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int TFileServer::Hits(const std::string& path) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = hits_.find(path);
  return it == hits_.end() ? 0 : it->second;
}

std::string FakeExecutable(const std::string& version, size_t size) {
  std::string bytes = "\x7f" "ELF";
  bytes.resize(size / 2, '\0');
  bytes += BuildVersionMarker(version);
  if (bytes.size() < size) bytes.resize(size, 'x');
  return bytes;
}

platform::ProcessResult TRecordingRunner::Run(const platform::ProcessRequest& request) {
  return platform::SystemProcessRunner().Run(request);
}

bool TRecordingRunner::StartDetached(const platform::ProcessRequest& request, std::string& error) {
  std::lock_guard<std::mutex> guard(lock_);
  detached_.push_back(request);
  if (failDetached) {
    error = "No such file or directory";
    return false;
  }
  return true;
}

std::vector<platform::ProcessRequest> TRecordingRunner::Detached() const {
  std::lock_guard<std::mutex> guard(lock_);
  return detached_;
}

}  // namespace calvora::test
