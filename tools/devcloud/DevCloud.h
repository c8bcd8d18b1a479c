#pragma once
// The local cloud emulator: Google OAuth and Drive v3, and the account
// directory's sign-in and realtime database, served on loopback. Tests run it
// in-process; the demo runs it as the program calvora-devcloud.
#include <atomic>
#include <chrono>
#include <deque>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

namespace calvora::devcloud {

class GoogleState;            // GoogleRoutes.cpp
class AccountDirectoryState;  // AccountRoutes.cpp

// What a matching request gets instead of its normal answer.
//  Status:       answered at once with `status` and Google's error body.
//  DropRequest:  the connection is cut after `afterBytes` bytes of the
//                request body and the request is not carried out (GET and
//                other bodiless requests: cut before anything is done;
//                routes with a body honour it when they read it through
//                DevCloud::ReceiveBody).
//  DropResponse: the request is carried out, then the connection is cut
//                after `afterBytes` bytes of the answer's body.
//  Delay:        the answer waits `delayMs` first.
//  ShortCommit:  a resumable-upload chunk arrives whole but the server keeps
//                only its first `afterBytes` bytes (in whole 256 KiB units)
//                and says so in the 308 answer's Range, as Google may.
//  Hold:         a black-holed link: the request is neither read nor
//                answered for `delayMs` (less when the emulator stops), then
//                the connection is cut. No reset, no byte, until then.
//  RepeatPageToken: a listing page (files or revisions) names the page
//                token it was asked with as its nextPageToken (the first
//                page the token of the next), so the listing never ends.
//  EndlessPages: a listing page carries a fresh nextPageToken (it serves
//                the page it was asked for again), so the listing never ends.
// With `every` above 1 a rule hits only each every-th matching request (the
// others pass and are not counted against `remaining`).
//
// Rate-limit reasons ("rateLimitExceeded", "userRateLimitExceeded") get the
// body Drive documents for them (domain "usageLimits").
struct FaultRule {
  enum class Kind { Status, DropRequest, DropResponse, Delay, ShortCommit, Hold, RepeatPageToken, EndlessPages };
  Kind kind = Kind::Status;
  std::string method;       // empty: any method
  std::string pathPattern;  // ECMAScript regex searched in the path; empty: any
  int remaining = 1;        // how many requests it still hits
  int skip = 0;             // matching requests let through before it hits
  int status = 503;         // Kind::Status
  std::string reason;       // Google error reason ("backendError", "rateLimitExceeded", ...)
  std::string body;         // Kind::Status: this body instead of Google's error body
  std::int64_t afterBytes = 0;  // Drop*: bytes of the body that pass before the cut; ShortCommit: bytes kept
  int delayMs = 0;              // Kind::Delay, Kind::Hold
  int every = 0;                // hits one matching request in `every`
  int seen = 0;                 // matching requests counted for `every`
};

class DevCloud {
 public:
  // Content (uploaded files, revisions, database) lives below `dataDir`.
  explicit DevCloud(std::string dataDir);
  ~DevCloud();
  DevCloud(const DevCloud&) = delete;
  DevCloud& operator=(const DevCloud&) = delete;

  // Listens on 127.0.0.1:`port` (0: a free port). False when it cannot bind.
  bool Start(int port = 0);
  void Stop();
  int Port() const { return port_; }
  // "http://127.0.0.1:<port>"
  std::string BaseUrl() const;
  const std::string& DataDir() const { return dataDir_; }

  void AddFault(const FaultRule& rule);
  void InjectStatus(const std::string& method, const std::string& pathPattern, int count, int status,
                    const std::string& reason = "backendError");
  void InjectDelay(const std::string& method, const std::string& pathPattern, int count, int delayMs);
  void ClearFaults();
  // Every request waits `delayMs` before it is served, plus up to
  // `jitterMs` more (uniform), as a distant server would; 0 turns it off.
  // The waits of concurrent requests overlap.
  void SetRequestDelay(int delayMs, int jitterMs = 0);
  // Drive's per-user rate limit: a Drive request (paths below /drive and
  // /upload) that would be the (N+1)-th served within one second is
  // answered 429 rateLimitExceeded and not carried out; 0 turns it off.
  void SetRateLimit(int requestsPerSecond);
  // Requests answered by the rate limit since start (or the last reset).
  std::int64_t RateLimitedCount() const;
  // Called with each request's method and path before it is served (on the
  // server's thread), so a test can change the world at a known moment.
  using RequestObserver = std::function<void(const std::string& method, const std::string& path)>;
  void SetRequestObserver(RequestObserver observer);
  // The rule that applies to this request, consumed; false when none does.
  bool TakeFault(const std::string& method, const std::string& path, FaultRule::Kind kind, FaultRule& rule);

  // Reads the request body into `sink`, honouring DropRequest rules. False
  // when the body could not be read whole (the client went away, the sink
  // refused, or the connection is to be dropped: then `res` is set up so
  // the connection is cut).
  bool ReceiveBody(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader,
                   const std::function<bool(const char*, std::size_t)>& sink);
  // Makes `res` an answer that breaks off, so the client sees a dropped
  // connection.
  static void DropConnection(httplib::Response& res);
  // Routes below this path prefix read every request body through
  // ReceiveBody: a Status fault on them is answered once the body has been
  // read. Elsewhere a Status fault on a request with a body is answered at
  // once and the connection then closed (its unread body cannot be told
  // from the next request).
  void AddBodyReadingPrefix(const std::string& pathPrefix);

  // Requests served since start (or the last reset), optionally only those
  // of one method and/or whose path starts with `pathPrefix`.
  std::int64_t RequestCount(const std::string& method = "", const std::string& pathPrefix = "") const;
  void ResetCounts();

  GoogleState& Google() { return *google_; }
  AccountDirectoryState& Account() { return *account_; }

 private:
  void CountRequest(const std::string& method, const std::string& path);
  void WaitRequestDelay();
  // True (with the answer in `rule`) when this request passes the rate limit.
  bool TakeRateLimit(const std::string& path, FaultRule& rule);
  bool ReadsBodyItself(const std::string& path) const;

  std::string dataDir_;
  std::unique_ptr<httplib::Server> server_;
  std::unique_ptr<GoogleState> google_;
  std::unique_ptr<AccountDirectoryState> account_;
  std::atomic<int> port_{0};
  std::atomic<bool> stopping_{false};  // ends held connections
  std::unique_ptr<std::thread> thread_;
  mutable std::mutex lock_;
  std::vector<FaultRule> faults_;
  std::vector<std::string> bodyReadingPrefixes_;
  std::vector<std::pair<std::string, std::string>> requests_;
  int delayMs_ = 0;
  int jitterMs_ = 0;
  std::uint64_t jitterState_ = 0x9E3779B97F4A7C15ull;
  RequestObserver observer_;
  int rateLimit_ = 0;
  std::deque<std::chrono::steady_clock::time_point> recentDriveRequests_;
  std::int64_t rateLimited_ = 0;
};

// Google's error body: {"error":{"code":..,"message":..,"errors":[{"domain":"global","reason":..,"message":..}],"status":..}}
// (domain "usageLimits" for the rate-limit reasons).
std::string GoogleErrorBody(int status, const std::string& reason, const std::string& message);
// The message Drive gives with a rate-limit reason ("Rate Limit Exceeded",
// "User Rate Limit Exceeded"); empty for other reasons.
std::string RateLimitMessage(const std::string& reason);

// Route registration of the two halves (each in its own file).
void RegisterGoogleRoutes(httplib::Server& server, DevCloud& cloud);
void RegisterAccountRoutes(httplib::Server& server, DevCloud& cloud);
std::unique_ptr<GoogleState> MakeGoogleState(const std::string& dataDir);
std::unique_ptr<AccountDirectoryState> MakeAccountDirectoryState(const std::string& dataDir);

}  // namespace calvora::devcloud
