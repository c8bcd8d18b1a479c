#pragma once
// The HTTP client object: one connection handle per instance, reused by every
// request it sends (keep-alive), TLS 1.2 or newer, redirects followed.
// Request bodies may stream from a file region and response bodies into a
// file, so nothing proportional to a transfer's size is held in memory.
// Only https is spoken, and plain http to loopback (the local emulator):
// a server-given address (a redirect, an upload session) can lead nowhere
// else, least of all to a local file.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace calvora::platform {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  HttpHeaders headers;
  // In-memory body; ignored when `bodyFile` is set.
  std::string body;
  // Streamed body: `bodyLength` bytes of `bodyFile` from `bodyOffset`
  // (-1: to the end of the file).
  std::string bodyFile;
  std::int64_t bodyOffset = 0;
  std::int64_t bodyLength = -1;
  // When set, a 2xx response body is written to this file (created or
  // truncated) instead of `HttpResponse::body`; other answers stay in memory.
  std::string responseFile;
  // Progress of the request body (bytes sent, total) and of the response
  // body (bytes received, total; total 0 when unknown).
  std::function<void(std::int64_t, std::int64_t)> onUploadProgress;
  std::function<void(std::int64_t, std::int64_t)> onDownloadProgress;
};

struct HttpResponse {
  int status = 0;
  std::string body;
  HttpHeaders headers;  // names as sent by the server
  // First header of that name, compared ignoring case; empty when absent.
  std::string Header(std::string_view name) const;
};

// A transfer that failed below HTTP: no connection, a dropped connection, a
// stalled transfer, a local file that cannot be read or written, an address
// (or a redirect) to a scheme or host that is not allowed.
class HttpTransportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class HttpClient {
 public:
  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  void SetConnectTimeoutMs(long ms) { connectTimeoutMs_ = ms; }
  // A transfer that moves no byte for this long is cut: the outer bound,
  // also while the server prepares its answer. A healthy transfer is never
  // cut, however long it takes.
  void SetResponseTimeoutMs(long ms) { responseTimeoutMs_ = ms; }
  // A transfer that moves fewer than kLowSpeedBytesPerSecond for this many
  // seconds is cut (a link that black-holes the traffic), so the caller's
  // retries start long before the response time-out; 0 turns it off.
  void SetLowSpeedWindowSeconds(long seconds) { lowSpeedWindowSeconds_ = seconds; }
  static constexpr long kLowSpeedBytesPerSecond = 1024;
  static constexpr long kDefaultLowSpeedWindowSeconds = 60;

  // Throws HttpTransportError when no HTTP answer came.
  HttpResponse Send(const HttpRequest& request);

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
  long connectTimeoutMs_ = 30000;
  long responseTimeoutMs_ = 30000;
  long lowSpeedWindowSeconds_ = kDefaultLowSpeedWindowSeconds;
};

// True for an https address, and for an http one whose host is loopback
// ("localhost", 127.x.x.x, [::1]); false for every other scheme and for
// addresses that do not parse.
bool IsAllowedUrl(std::string_view url);
// "scheme://host:port" of an address, lower case, the port always written
// (443 for https, 80 for http); empty when it does not parse.
std::string UrlOrigin(std::string_view url);

// Query and form encoding: letters, digits and !$'()*-.@_ stay, a blank
// becomes "+", every other byte is %XX with upper-case hex digits.
std::string UrlEncode(std::string_view text);

}  // namespace calvora::platform
