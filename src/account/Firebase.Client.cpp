#include "account/Firebase.Client.h"

#include "foundation/TextUtil.h"

namespace calvora {
namespace {

bool IsUnreservedByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == '~';
}

// What a URL path may carry as it is besides the unreserved bytes: the
// sub-delimiters, ":", "@", the segment separator and existing escapes.
bool IsPathByte(unsigned char c) {
  return IsUnreservedByte(c) || std::string_view("!$&'()*+,;=:@/%").find(static_cast<char>(c)) != std::string_view::npos;
}

void AppendEscape(std::string& out, unsigned char c) {
  static const char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

std::string EncodeBytes(const std::string& text, bool (*keep)(unsigned char)) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (keep(c))
      out += static_cast<char>(c);
    else
      AppendEscape(out, c);
  }
  return out;
}

}  // namespace

std::string BuildDatabaseUrl(const std::string& baseURL, const std::string& path,
                             const std::string& authToken) {
  std::string base = baseURL;
  if (!base.empty() && base.back() == '/') base.pop_back();
  const std::string separator = (!path.empty() && path.front() == '/') ? "" : "/";
  std::string node = path, query;
  if (size_t q = path.find('?'); q != std::string::npos) {
    node = path.substr(0, q);
    query = path.substr(q);
  }
  std::string url = base + separator + EncodeBytes(node, IsPathByte) + ".json" + query;
  if (!authToken.empty()) url += (url.find('?') != std::string::npos ? "&auth=" : "?auth=") + authToken;
  return url;
}

std::string EncodeDatabaseKey(const std::string& key) { return EncodeBytes(key, IsUnreservedByte); }

std::string DatabaseChildPath(const std::string& parent, const std::string& key) {
  return parent + "/" + EncodeDatabaseKey(key);
}

std::string EncodeDatabaseNodePath(const std::string& nodePath) {
  std::string out;
  size_t start = 0;
  while (true) {
    const size_t slash = nodePath.find('/', start);
    out += EncodeDatabaseKey(nodePath.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) break;
    out += '/';
    start = slash + 1;
  }
  return out;
}

bool IsDatabaseErrorAnswer(const TFirebaseResponse& answer, std::string& message) {
  message.clear();
  TJson body;
  const bool parsed = TryParseJson(answer.Body, body);
  const bool errorObject = parsed && body.is_object() && body.size() == 1 && body.contains("error");
  if (errorObject) {
    const TJson& error = body["error"];
    message = error.is_object() ? JsonMemberText(error, "message") : JsonValueText(error);
  }
  const bool okStatus = answer.Status >= 200 && answer.Status < 300;
  if (okStatus && !errorObject) return false;
  if (Trim(message).empty()) message = "HTTP " + std::to_string(answer.Status);
  return true;
}

TFirebaseClient::TFirebaseClient(const TFirebaseConfig& AConfig)
    : FConfig(AConfig), FHTTP(std::make_unique<platform::HttpClient>()) {}

TFirebaseClient::~TFirebaseClient() = default;

std::string TFirebaseClient::Get(const std::string& Path) { return Request("GET", Path).Body; }
std::string TFirebaseClient::Post(const std::string& Path, const TJson& JSONData) {
  return Request("POST", Path, &JSONData).Body;
}
std::string TFirebaseClient::Put(const std::string& Path, const TJson& JSONData) {
  return Request("PUT", Path, &JSONData).Body;
}
std::string TFirebaseClient::Patch(const std::string& Path, const TJson& JSONData) {
  return Request("PATCH", Path, &JSONData).Body;
}
std::string TFirebaseClient::Delete(const std::string& Path) { return Request("DELETE", Path).Body; }

TFirebaseResponse TFirebaseClient::Request(const std::string& method, const std::string& Path,
                                           const TJson* JSONData) {
  platform::HttpRequest request;
  request.method = method;
  request.url = BuildDatabaseUrl(FConfig.BaseURL, Path, FAuthToken);
  request.headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}};
  if (JSONData) request.body = JsonToText(*JSONData);
  platform::HttpResponse response = FHTTP->Send(request);
  return TFirebaseResponse{response.status, std::move(response.body)};
}

}  // namespace calvora
