#include "DevCloud.h"

#include "AccountDirectoryState.h"
#include "GoogleState.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <regex>

namespace calvora::devcloud {
namespace {

const char* StatusName(int status) {
  switch (status) {
    case 400: return "INVALID_ARGUMENT";
    case 401: return "UNAUTHENTICATED";
    case 403: return "PERMISSION_DENIED";
    case 404: return "NOT_FOUND";
    case 409: return "ALREADY_EXISTS";
    case 429: return "RESOURCE_EXHAUSTED";
    case 500: return "INTERNAL";
    case 503: return "UNAVAILABLE";
    default: return "UNKNOWN";
  }
}

bool Matches(const FaultRule& rule, const std::string& method, const std::string& path) {
  if (!rule.method.empty() && rule.method != method) return false;
  if (rule.pathPattern.empty()) return true;
  try {
    return std::regex_search(path, std::regex(rule.pathPattern));
  } catch (const std::regex_error&) {
    return false;
  }
}

}  // namespace

std::string GoogleErrorBody(int status, const std::string& reason, const std::string& message) {
  nlohmann::ordered_json error = {
      {"error",
       {{"code", status},
        {"message", message},
        {"errors", nlohmann::ordered_json::array({{{"domain", "global"}, {"reason", reason}, {"message", message}}})},
        {"status", StatusName(status)}}}};
  return error.dump();
}

DevCloud::DevCloud(std::string dataDir)
    : dataDir_(std::move(dataDir)),
      google_(MakeGoogleState(dataDir_)),
      account_(MakeAccountDirectoryState(dataDir_)) {}

DevCloud::~DevCloud() { Stop(); }

bool DevCloud::Start(int port) {
  if (server_) return true;
  server_ = std::make_unique<httplib::Server>();
  server_->set_payload_max_length(static_cast<size_t>(1) << 40);
  server_->new_task_queue = [] { return new httplib::ThreadPool(16); };
  server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    CountRequest(req.method, req.path);
    FaultRule rule;
    if (TakeFault(req.method, req.path, FaultRule::Kind::Delay, rule))
      std::this_thread::sleep_for(std::chrono::milliseconds(rule.delayMs));
    if (TakeFault(req.method, req.path, FaultRule::Kind::Status, rule)) {
      res.status = rule.status;
      res.set_content(GoogleErrorBody(rule.status, rule.reason, "Injected fault: " + rule.reason),
                      "application/json; charset=UTF-8");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  RegisterGoogleRoutes(*server_, *this);
  RegisterAccountRoutes(*server_, *this);
  int bound = port == 0 ? server_->bind_to_any_port("127.0.0.1") : (server_->bind_to_port("127.0.0.1", port) ? port : -1);
  if (bound <= 0) {
    server_.reset();
    return false;
  }
  port_ = bound;
  thread_ = std::make_unique<std::thread>([this] { server_->listen_after_bind(); });
  // stop() is only heard once the accept loop runs.
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

void DevCloud::Stop() {
  if (!server_) return;
  server_->stop();
  if (thread_ && thread_->joinable()) thread_->join();
  thread_.reset();
  server_.reset();
  port_ = 0;
}

std::string DevCloud::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_.load()); }

void DevCloud::AddFault(const FaultRule& rule) {
  std::lock_guard<std::mutex> guard(lock_);
  faults_.push_back(rule);
}

void DevCloud::InjectStatus(const std::string& method, const std::string& pathPattern, int count, int status,
                            const std::string& reason) {
  FaultRule rule;
  rule.kind = FaultRule::Kind::Status;
  rule.method = method;
  rule.pathPattern = pathPattern;
  rule.remaining = count;
  rule.status = status;
  rule.reason = reason;
  AddFault(rule);
}

void DevCloud::InjectDelay(const std::string& method, const std::string& pathPattern, int count, int delayMs) {
  FaultRule rule;
  rule.kind = FaultRule::Kind::Delay;
  rule.method = method;
  rule.pathPattern = pathPattern;
  rule.remaining = count;
  rule.delayMs = delayMs;
  AddFault(rule);
}

void DevCloud::ClearFaults() {
  std::lock_guard<std::mutex> guard(lock_);
  faults_.clear();
}

bool DevCloud::TakeFault(const std::string& method, const std::string& path, FaultRule::Kind kind,
                         FaultRule& rule) {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->kind != kind || it->remaining <= 0 || !Matches(*it, method, path)) continue;
    rule = *it;
    if (--it->remaining <= 0) faults_.erase(it);
    return true;
  }
  return false;
}

void DevCloud::CountRequest(const std::string& method, const std::string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  requests_.emplace_back(method, path);
}

std::int64_t DevCloud::RequestCount(const std::string& method, const std::string& pathPrefix) const {
  std::lock_guard<std::mutex> guard(lock_);
  std::int64_t count = 0;
  for (const auto& [m, p] : requests_)
    if ((method.empty() || m == method) && p.rfind(pathPrefix, 0) == 0) ++count;
  return count;
}

void DevCloud::ResetCounts() {
  std::lock_guard<std::mutex> guard(lock_);
  requests_.clear();
}

}  // namespace calvora::devcloud
