#pragma once
// Helpers shared by the emulator's OAuth and Drive request handlers.
#include "DevCloud.h"
#include "GoogleState.h"

#include <httplib.h>

#include <string>
#include <utility>
#include <vector>

namespace calvora::devcloud {

inline constexpr const char* kJsonType = "application/json; charset=UTF-8";

// Drive's answers are always valid UTF-8: a byte that is not (a name a test
// planted) goes out as U+FFFD instead of failing the answer.
inline std::string ToJsonText(const GoogleJson& value) {
  return value.dump(-1, ' ', false, GoogleJson::error_handler_t::replace);
}

inline void SendJson(httplib::Response& res, int status, const GoogleJson& body) {
  res.status = status;
  res.set_content(ToJsonText(body), kJsonType);
}

inline void SendGoogleError(httplib::Response& res, int status, const std::string& reason,
                            const std::string& message) {
  res.status = status;
  res.set_content(GoogleErrorBody(status, reason, message), kJsonType);
}

// "%XX" to bytes; with `plusIsSpace` "+" becomes a blank (form bodies).
inline std::string UrlDecode(const std::string& text, bool plusIsSpace) {
  auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else if (text[i] == '+' && plusIsSpace) {
      out += ' ';
    } else {
      out += text[i];
    }
  }
  return out;
}

// An application/x-www-form-urlencoded body as name/value pairs.
inline std::vector<std::pair<std::string, std::string>> ParseForm(const std::string& body) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t pos = 0;
  while (pos <= body.size()) {
    size_t amp = body.find('&', pos);
    std::string item = body.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
    if (!item.empty()) {
      size_t eq = item.find('=');
      out.emplace_back(UrlDecode(item.substr(0, eq), true),
                       eq == std::string::npos ? std::string() : UrlDecode(item.substr(eq + 1), true));
    }
    if (amp == std::string::npos) break;
    pos = amp + 1;
  }
  return out;
}

inline std::string FormValue(const std::vector<std::pair<std::string, std::string>>& form, const std::string& name) {
  for (const auto& [key, value] : form)
    if (key == name) return value;
  return std::string();
}

// Reads a small body whole; false (with `res` set) when it cannot be read.
inline bool ReadSmallBody(DevCloud& cloud, const httplib::Request& req, httplib::Response& res,
                          const httplib::ContentReader& reader, std::string& body) {
  constexpr size_t kLimit = 4 * 1024 * 1024;
  bool tooLarge = false;
  bool ok = cloud.ReceiveBody(req, res, reader, [&](const char* data, size_t size) {
    if (body.size() + size > kLimit) {
      tooLarge = true;
      return false;
    }
    body.append(data, size);
    return true;
  });
  if (tooLarge) SendGoogleError(res, 413, "uploadTooLarge", "Request body too large");
  return ok && !tooLarge;
}

// Drains a body that is not wanted, so the connection stays usable.
inline bool DiscardBody(DevCloud& cloud, const httplib::Request& req, httplib::Response& res,
                        const httplib::ContentReader& reader) {
  return cloud.ReceiveBody(req, res, reader, [](const char*, size_t) { return true; });
}

}  // namespace calvora::devcloud
