#include "DevCloud.h"

#include "AccountDirectoryState.h"
#include "GoogleState.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <optional>
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

// A Status fault waiting for the body of the request this thread serves.
thread_local std::optional<FaultRule> t_pendingStatus;

void SetFaultAnswer(httplib::Response& res, const FaultRule& rule) {
  res.status = rule.status;
  res.content_provider_ = nullptr;
  res.content_length_ = 0;
  const std::string rateMessage = RateLimitMessage(rule.reason);
  const std::string message = rateMessage.empty() ? "Injected fault: " + rule.reason : rateMessage;
  res.set_content(rule.body.empty() ? GoogleErrorBody(rule.status, rule.reason, message) : rule.body,
                  "application/json; charset=UTF-8");
}

// Replaces an answer the server has already prepared (its framing headers
// are set by then) with the fault's answer.
void ReplaceWithFaultAnswer(httplib::Response& res, const FaultRule& rule) {
  httplib::Headers kept;
  for (const char* name : {"Connection", "Keep-Alive"})
    if (res.has_header(name)) kept.emplace(name, res.get_header_value(name));
  res.headers = kept;
  SetFaultAnswer(res, rule);
  res.set_header("Content-Length", std::to_string(res.body.size()));
}

bool HasBody(const httplib::Request& req) {
  return req.method == "POST" || req.method == "PUT" || req.method == "PATCH" ||
         (req.method == "DELETE" && req.has_header("Content-Length"));
}

// Cuts the answer after `keep` bytes of its body: the body is served by a
// provider that gives up there, with a length that promises more.
void CutResponse(httplib::Response& res, std::size_t keep) {
  if (res.status == 204 || res.status == 304) res.status = 200;  // answers that may not carry a body
  if (res.content_provider_) {
    auto inner = res.content_provider_;
    auto sent = std::make_shared<std::size_t>(0);
    std::size_t length = std::max(res.content_length_, keep + 1);
    res.content_provider_ = [inner, sent, keep](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
      if (*sent >= keep) return false;
      httplib::DataSink limited;
      limited.is_writable = sink.is_writable;
      limited.done = [] {};
      limited.write = [&](const char* data, std::size_t size) {
        std::size_t allowed = std::min(size, keep - *sent);
        if (allowed > 0 && !sink.write(data, allowed)) return false;
        *sent += allowed;
        return allowed == size;
      };
      return inner(offset, length, limited) && *sent < keep;
    };
    res.content_length_ = length;
  } else {
    auto body = std::make_shared<std::string>(res.body.substr(0, std::min(keep, res.body.size())));
    std::size_t length = std::max(res.body.size(), keep + 1);
    res.body.clear();
    res.content_length_ = length;
    res.content_provider_ = [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
      if (offset < body->size()) sink.write(body->data() + offset, body->size() - offset);
      return false;
    };
  }
  res.headers.erase("Content-Length");
  res.set_header("Content-Length", std::to_string(res.content_length_));
  if (!res.has_header("Content-Type")) res.set_header("Content-Type", "application/octet-stream");
}

// Sends the whole answer, then ends the connection (the server closes a
// connection whose answer it could not finish).
void CloseAfterAnswer(httplib::Response& res) {
  auto body = std::make_shared<std::string>(std::move(res.body));
  res.body.clear();
  res.content_length_ = body->size();
  res.content_provider_ = [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
    if (offset < body->size()) sink.write(body->data() + offset, body->size() - offset);
    return false;
  };
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

std::string RateLimitMessage(const std::string& reason) {
  if (reason == "rateLimitExceeded") return "Rate Limit Exceeded";
  if (reason == "userRateLimitExceeded") return "User Rate Limit Exceeded";
  return std::string();
}

std::string GoogleErrorBody(int status, const std::string& reason, const std::string& message) {
  const char* domain = RateLimitMessage(reason).empty() ? "global" : "usageLimits";
  nlohmann::ordered_json error = {
      {"error",
       {{"code", status},
        {"message", message},
        {"errors", nlohmann::ordered_json::array({{{"domain", domain}, {"reason", reason}, {"message", message}}})},
        {"status", StatusName(status)}}}};
  return error.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

DevCloud::DevCloud(std::string dataDir)
    : dataDir_(std::move(dataDir)),
      google_(MakeGoogleState(dataDir_)),
      account_(MakeAccountDirectoryState(dataDir_)) {}

DevCloud::~DevCloud() { Stop(); }

bool DevCloud::Start(int port) {
  if (server_) return true;
  stopping_ = false;
  server_ = std::make_unique<httplib::Server>();
  server_->set_payload_max_length(static_cast<size_t>(1) << 40);
  server_->set_keep_alive_max_count(100000);  // clients keep one connection for a whole run
  // Answers go out in several writes; without this each small request waits
  // for the peer's delayed acknowledgement.
  server_->set_tcp_nodelay(true);
  server_->new_task_queue = [] { return new httplib::ThreadPool(16); };
  server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    CountRequest(req.method, req.path);
    t_pendingStatus.reset();
    RequestObserver observer;
    {
      std::lock_guard<std::mutex> guard(lock_);
      observer = observer_;
    }
    if (observer) observer(req.method, req.path);
    WaitRequestDelay();
    FaultRule rule;
    if (TakeFault(req.method, req.path, FaultRule::Kind::Delay, rule))
      std::this_thread::sleep_for(std::chrono::milliseconds(rule.delayMs));
    if (TakeFault(req.method, req.path, FaultRule::Kind::Hold, rule)) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(rule.delayMs);
      while (!stopping_ && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      DropConnection(res);
      return httplib::Server::HandlerResponse::Handled;
    }
    if (!HasBody(req) && TakeFault(req.method, req.path, FaultRule::Kind::DropRequest, rule)) {
      DropConnection(res);
      return httplib::Server::HandlerResponse::Handled;
    }
    if (TakeRateLimit(req.path, rule) || TakeFault(req.method, req.path, FaultRule::Kind::Status, rule)) {
      if (HasBody(req) && ReadsBodyItself(req.path)) {
        t_pendingStatus = rule;  // answered once ReceiveBody has read the body
        return httplib::Server::HandlerResponse::Unhandled;
      }
      SetFaultAnswer(res, rule);
      // The body was not read: the connection must end with this answer, or
      // its unread bytes would be taken for the next request.
      if (HasBody(req)) CloseAfterAnswer(res);
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server_->set_post_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (t_pendingStatus) {
      ReplaceWithFaultAnswer(res, *t_pendingStatus);
      t_pendingStatus.reset();
      return;
    }
    FaultRule rule;
    if (TakeFault(req.method, req.path, FaultRule::Kind::DropResponse, rule))
      CutResponse(res, static_cast<std::size_t>(std::max<std::int64_t>(rule.afterBytes, 0)));
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
  stopping_ = true;
  server_->stop();
  if (thread_ && thread_->joinable()) thread_->join();
  thread_.reset();
  server_.reset();
  port_ = 0;
}

bool DevCloud::ReceiveBody(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader,
                           const std::function<bool(const char*, std::size_t)>& sink) {
  if (t_pendingStatus) {
    // The request fails with its injected status; the body is only drained.
    reader([](const char*, std::size_t) { return true; });
    SetFaultAnswer(res, *t_pendingStatus);
    return false;
  }
  FaultRule rule;
  const bool drop = TakeFault(req.method, req.path, FaultRule::Kind::DropRequest, rule);
  const std::int64_t cutAt = std::max<std::int64_t>(rule.afterBytes, 0);
  std::int64_t passed = 0;
  bool cut = false;
  bool refused = false;
  bool ok = reader([&](const char* data, std::size_t size) {
    if (drop && passed + static_cast<std::int64_t>(size) > cutAt) {
      std::size_t keep = static_cast<std::size_t>(cutAt - passed);
      if (keep > 0) sink(data, keep);
      cut = true;
      return false;
    }
    passed += static_cast<std::int64_t>(size);
    if (!sink(data, size)) {
      refused = true;
      return false;
    }
    return true;
  });
  // A rule whose cut lies at or beyond the end still keeps the request
  // from being carried out.
  if (drop) cut = true;
  if (cut || (!ok && !refused)) {
    DropConnection(res);
    return false;
  }
  return ok;
}

void DevCloud::AddBodyReadingPrefix(const std::string& pathPrefix) {
  std::lock_guard<std::mutex> guard(lock_);
  bodyReadingPrefixes_.push_back(pathPrefix);
}

bool DevCloud::ReadsBodyItself(const std::string& path) const {
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& prefix : bodyReadingPrefixes_)
    if (path.rfind(prefix, 0) == 0) return true;
  return false;
}

void DevCloud::DropConnection(httplib::Response& res) {
  res.status = 500;
  res.body.clear();
  res.content_provider_ = nullptr;
  res.content_length_ = 0;
  CutResponse(res, 0);
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
    if (it->every > 1 && ++it->seen % it->every != 0) continue;
    if (it->skip > 0) {
      --it->skip;
      continue;
    }
    rule = *it;
    if (--it->remaining <= 0) faults_.erase(it);
    return true;
  }
  return false;
}

void DevCloud::SetRequestDelay(int delayMs, int jitterMs) {
  std::lock_guard<std::mutex> guard(lock_);
  delayMs_ = std::max(delayMs, 0);
  jitterMs_ = std::max(jitterMs, 0);
}

void DevCloud::WaitRequestDelay() {
  int wait = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    wait = delayMs_;
    if (jitterMs_ > 0) {
      // xorshift: cheap, and reproducible from run to run
      jitterState_ ^= jitterState_ << 13;
      jitterState_ ^= jitterState_ >> 7;
      jitterState_ ^= jitterState_ << 17;
      wait += static_cast<int>(jitterState_ % static_cast<std::uint64_t>(jitterMs_ + 1));
    }
  }
  if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(wait));
}

void DevCloud::SetRateLimit(int requestsPerSecond) {
  std::lock_guard<std::mutex> guard(lock_);
  rateLimit_ = std::max(requestsPerSecond, 0);
  recentDriveRequests_.clear();
}

bool DevCloud::TakeRateLimit(const std::string& path, FaultRule& rule) {
  if (path.rfind("/drive/", 0) != 0 && path.rfind("/upload/", 0) != 0) return false;
  std::lock_guard<std::mutex> guard(lock_);
  if (rateLimit_ <= 0) return false;
  const auto now = std::chrono::steady_clock::now();
  while (!recentDriveRequests_.empty() && now - recentDriveRequests_.front() >= std::chrono::seconds(1))
    recentDriveRequests_.pop_front();
  if (static_cast<int>(recentDriveRequests_.size()) < rateLimit_) {
    recentDriveRequests_.push_back(now);
    return false;
  }
  ++rateLimited_;
  rule = FaultRule();
  rule.kind = FaultRule::Kind::Status;
  rule.status = 429;
  rule.reason = "rateLimitExceeded";
  return true;
}

void DevCloud::SetRequestObserver(RequestObserver observer) {
  std::lock_guard<std::mutex> guard(lock_);
  observer_ = std::move(observer);
}

std::int64_t DevCloud::RateLimitedCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return rateLimited_;
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
  rateLimited_ = 0;
}

}  // namespace calvora::devcloud
