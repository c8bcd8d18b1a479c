#include "platform/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>
#include <strings.h>

namespace calvora::platform {
namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

using SteadyClock = std::chrono::steady_clock;

struct UrlParts {
  std::string scheme, host, port;
};

// Splits `url`, resolved against `base` when one is given (a relative
// redirect target); false when it does not parse or names no host.
bool SplitUrl(std::string_view base, std::string_view url, UrlParts& parts) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), curl_url_cleanup);
  if (!handle) return false;
  if (!base.empty() && curl_url_set(handle.get(), CURLUPART_URL, std::string(base).c_str(), 0) != CURLUE_OK)
    return false;
  if (curl_url_set(handle.get(), CURLUPART_URL, std::string(url).c_str(), 0) != CURLUE_OK) return false;
  auto part = [&](CURLUPart which, unsigned int flags, std::string& out) {
    char* value = nullptr;
    if (curl_url_get(handle.get(), which, &value, flags) != CURLUE_OK || !value) return false;
    out = value;
    curl_free(value);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return true;
  };
  return part(CURLUPART_SCHEME, 0, parts.scheme) && part(CURLUPART_HOST, 0, parts.host) &&
         part(CURLUPART_PORT, CURLU_DEFAULT_PORT, parts.port) && !parts.host.empty();
}

bool IsLoopbackHost(const std::string& host) {
  if (host == "localhost" || host == "[::1]") return true;
  if (host.rfind("127.", 0) != 0) return false;
  return std::all_of(host.begin(), host.end(), [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

bool IsAllowed(const UrlParts& parts) {
  return parts.scheme == "https" || (parts.scheme == "http" && IsLoopbackHost(parts.host));
}

// What a refused address is called in an error text: its scheme and host
// only (the rest may carry a session key, or anything a hostile server
// chose to put there).
std::string RefusedAddressText(std::string_view base, std::string_view url) {
  UrlParts parts;
  if (!SplitUrl(base, url, parts)) {
    std::string scheme(url.substr(0, std::min<size_t>(url.find(':'), 16)));
    for (char& c : scheme)
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '?';
    return scheme.empty() ? std::string("gecersiz adres") : scheme + ":";
  }
  return parts.scheme + "://" + parts.host;
}

struct Transfer {
  const HttpRequest* request = nullptr;
  HttpResponse* response = nullptr;
  CURL* curl = nullptr;
  int answerStatus = 0;  // status line of the answer being read
  // stall watch: no byte moved for `idleLimit` cuts the transfer
  std::chrono::milliseconds idleLimit{0};
  curl_off_t moved = 0;
  SteadyClock::time_point lastMove = SteadyClock::now();
  // request body
  FilePtr bodyFile;
  std::int64_t bodyStart = 0;  // file offset of the body's first byte
  std::int64_t bodySize = 0;
  std::int64_t bodyRemaining = 0;
  std::string_view memoryBody;
  // response body; the stream's buffer is declared first so it outlives it
  std::vector<char> responseBuffer;
  FilePtr responseFile;
  bool responseFileFailed = false;
  std::string localError;
};

size_t ReadBody(char* buffer, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t room = size * count;
  if (t->bodyFile) {
    size_t want = static_cast<size_t>(std::min<std::int64_t>(t->bodyRemaining, static_cast<std::int64_t>(room)));
    if (want == 0) return 0;
    size_t got = std::fread(buffer, 1, want, t->bodyFile.get());
    if (got == 0) {
      t->localError = "Dosya okunamadi: " + t->request->bodyFile;
      return CURL_READFUNC_ABORT;
    }
    t->bodyRemaining -= static_cast<std::int64_t>(got);
    return got;
  }
  size_t n = std::min(room, t->memoryBody.size());
  std::memcpy(buffer, t->memoryBody.data(), n);
  t->memoryBody.remove_prefix(n);
  return n;
}

// Rewinds the body when libcurl must send it again (redirect, retry on a
// reused connection that turned out closed).
int SeekBody(void* user, curl_off_t offset, int origin) {
  auto* t = static_cast<Transfer*>(user);
  if (origin != SEEK_SET || offset < 0 || offset > t->bodySize) return CURL_SEEKFUNC_CANTSEEK;
  if (t->bodyFile) {
    if (fseeko(t->bodyFile.get(), static_cast<off_t>(t->bodyStart + offset), SEEK_SET) != 0)
      return CURL_SEEKFUNC_FAIL;
    t->bodyRemaining = t->bodySize - offset;
  } else {
    t->memoryBody = std::string_view(t->request->body).substr(static_cast<size_t>(offset));
  }
  return CURL_SEEKFUNC_OK;
}

long CurrentStatus(Transfer* t, CURL* curl) {
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  (void)t;
  return status;
}

struct WriteContext {
  Transfer* transfer;
  CURL* curl;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto* ctx = static_cast<WriteContext*>(user);
  Transfer* t = ctx->transfer;
  size_t n = size * count;
  long status = CurrentStatus(t, ctx->curl);
  if (!t->request->responseFile.empty() && status >= 200 && status < 300) {
    if (!t->responseFile) {
      t->responseFile.reset(std::fopen(t->request->responseFile.c_str(), "wb"));
      if (!t->responseFile) {
        t->localError = "Dosya yazilamadi: " + t->request->responseFile;
        return 0;
      }
      // Large writes: a download is written in a few big system calls.
      t->responseBuffer.resize(1 << 20);
      std::setvbuf(t->responseFile.get(), t->responseBuffer.data(), _IOFBF, t->responseBuffer.size());
    }
    if (std::fwrite(data, 1, n, t->responseFile.get()) != n) {
      t->localError = "Dosya yazilamadi: " + t->request->responseFile;
      return 0;
    }
    return n;
  }
  t->response->body.append(data, n);
  return n;
}

size_t WriteHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  std::string_view line(data, n);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (line.rfind("HTTP/", 0) == 0) {
    // A redirect or 100-continue starts a new answer: drop what the earlier
    // one left behind.
    t->response->headers.clear();
    t->response->body.clear();
    const size_t blank = line.find(' ');
    t->answerStatus = blank == std::string_view::npos ? 0 : std::atoi(std::string(line.substr(blank + 1, 3)).c_str());
    return n;
  }
  auto colon = line.find(':');
  if (colon == std::string_view::npos) return n;
  std::string_view name = line.substr(0, colon);
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  // A redirect is followed only to where a request may go in the first place.
  if (t->answerStatus >= 300 && t->answerStatus < 400 && name.size() == 8 &&
      strncasecmp(name.data(), "Location", 8) == 0) {
    char* current = nullptr;
    curl_easy_getinfo(t->curl, CURLINFO_EFFECTIVE_URL, &current);
    const std::string base = current ? current : t->request->url;
    UrlParts target;
    if (!SplitUrl(base, value, target) || !IsAllowed(target)) {
      t->localError = "Yonlendirme adresine izin verilmiyor: " + RefusedAddressText(base, value);
      return 0;
    }
  }
  t->response->headers.emplace_back(std::string(name), std::string(value));
  return n;
}

int Progress(void* user, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow) {
  auto* t = static_cast<Transfer*>(user);
  const auto now = SteadyClock::now();
  if (dlNow + ulNow != t->moved) {
    t->moved = dlNow + ulNow;
    t->lastMove = now;
  } else if (t->idleLimit.count() > 0 && now - t->lastMove >= t->idleLimit) {
    t->localError = "Aktarim " + std::to_string(t->idleLimit.count()) + " ms boyunca ilerlemedi (zaman asimi)";
    return 1;
  }
  if (t->request->onUploadProgress && ulTotal > 0) t->request->onUploadProgress(ulNow, ulTotal);
  if (t->request->onDownloadProgress && dlNow > 0) t->request->onDownloadProgress(dlNow, dlTotal);
  return 0;
}

}  // namespace

struct HttpClient::Handle {
  CURL* curl = nullptr;
  char errorText[CURL_ERROR_SIZE] = {0};  // libcurl's detailed reason of a failure
  ~Handle() {
    if (curl) curl_easy_cleanup(curl);
  }
};

std::string HttpResponse::Header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) return value;
  return std::string();
}

HttpClient::HttpClient() : handle_(std::make_unique<Handle>()) {
  GlobalInit();
  handle_->curl = curl_easy_init();
}

HttpClient::~HttpClient() = default;

HttpResponse HttpClient::Send(const HttpRequest& request) {
  CURL* curl = handle_->curl;
  if (!curl) throw HttpTransportError("HTTP istemcisi olusturulamadi");
  curl_easy_reset(curl);  // keeps the connection cache

  if (!IsAllowedUrl(request.url))
    throw HttpTransportError("Adrese izin verilmiyor: " + RefusedAddressText("", request.url));

  HttpResponse response;
  Transfer t;
  t.request = &request;
  t.response = &response;
  t.curl = curl;
  t.idleLimit = std::chrono::milliseconds(std::max(0L, responseTimeoutMs_));
  WriteContext writeCtx{&t, curl};

  const bool hasBody = !request.bodyFile.empty() || !request.body.empty() ||
                       request.method == "POST" || request.method == "PUT" || request.method == "PATCH";
  std::int64_t bodySize = 0;
  if (!request.bodyFile.empty()) {
    t.bodyFile.reset(std::fopen(request.bodyFile.c_str(), "rb"));
    if (!t.bodyFile) throw HttpTransportError("Dosya okunamadi: " + request.bodyFile);
    if (fseeko(t.bodyFile.get(), 0, SEEK_END) != 0) throw HttpTransportError("Dosya okunamadi: " + request.bodyFile);
    std::int64_t fileSize = ftello(t.bodyFile.get());
    std::int64_t offset = std::min(std::max<std::int64_t>(request.bodyOffset, 0), fileSize);
    bodySize = request.bodyLength < 0 ? fileSize - offset : std::min(request.bodyLength, fileSize - offset);
    if (fseeko(t.bodyFile.get(), offset, SEEK_SET) != 0) throw HttpTransportError("Dosya okunamadi: " + request.bodyFile);
    t.bodyStart = offset;
  } else {
    t.memoryBody = request.body;
    bodySize = static_cast<std::int64_t>(request.body.size());
  }
  t.bodySize = bodySize;
  t.bodyRemaining = bodySize;

  char* errorText = handle_->errorText;
  errorText[0] = '\0';
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs_);
  curl_easy_setopt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
  // Loopback (the local emulator, a local proxy) never goes through a proxy.
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
  // Stall detection instead of a total time-out: a crawl below the low
  // speed for the window, or no byte at all for the response time-out
  // (watched in Progress).
  if (lowSpeedWindowSeconds_ > 0) {
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, lowSpeedWindowSeconds_);
  }
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &writeCtx);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, WriteHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 512L * 1024L);
  curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024L);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);

  if (hasBody) {
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadBody);
    curl_easy_setopt(curl, CURLOPT_READDATA, &t);
    curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, SeekBody);
    curl_easy_setopt(curl, CURLOPT_SEEKDATA, &t);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bodySize));
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  } else if (request.method == "HEAD") {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else if (request.method != "GET") {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }

  curl_slist* headers = nullptr;
  for (const auto& [name, value] : request.headers)
    headers = curl_slist_append(headers, (name + ": " + value).c_str());
  headers = curl_slist_append(headers, "Expect:");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);

  CURLcode rc = curl_easy_perform(curl);
  curl_slist_free_all(headers);
  if (t.responseFile && std::fflush(t.responseFile.get()) != 0 && t.localError.empty())
    t.localError = "Dosya yazilamadi: " + request.responseFile;
  t.responseFile.reset();
  if (rc != CURLE_OK) {
    std::string reason = !t.localError.empty() ? t.localError : errorText[0] ? errorText : curl_easy_strerror(rc);
    throw HttpTransportError(reason);
  }
  if (!t.localError.empty()) throw HttpTransportError(t.localError);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  response.status = static_cast<int>(status);
  return response;
}

bool IsAllowedUrl(std::string_view url) {
  UrlParts parts;
  return SplitUrl("", url, parts) && IsAllowed(parts);
}

std::string UrlOrigin(std::string_view url) {
  UrlParts parts;
  if (!SplitUrl("", url, parts)) return std::string();
  return parts.scheme + "://" + parts.host + ":" + parts.port;
}

std::string UrlEncode(std::string_view text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
        std::string_view("!$'()*-.@_").find(static_cast<char>(c)) != std::string_view::npos) {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

}  // namespace calvora::platform
