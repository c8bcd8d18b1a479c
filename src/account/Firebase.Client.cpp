#include "account/Firebase.Client.h"

namespace calvora {

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
  std::string url = base + separator + node + ".json" + query;
  if (!authToken.empty()) url += (url.find('?') != std::string::npos ? "&auth=" : "?auth=") + authToken;
  return url;
}

TFirebaseClient::TFirebaseClient(const TFirebaseConfig& AConfig)
    : FConfig(AConfig), FHTTP(std::make_unique<platform::HttpClient>()) {}

TFirebaseClient::~TFirebaseClient() = default;

std::string TFirebaseClient::Get(const std::string& Path) { return Send("GET", Path, nullptr); }
std::string TFirebaseClient::Post(const std::string& Path, const TJson& JSONData) {
  return Send("POST", Path, &JSONData);
}
std::string TFirebaseClient::Put(const std::string& Path, const TJson& JSONData) {
  return Send("PUT", Path, &JSONData);
}
std::string TFirebaseClient::Patch(const std::string& Path, const TJson& JSONData) {
  return Send("PATCH", Path, &JSONData);
}
std::string TFirebaseClient::Delete(const std::string& Path) { return Send("DELETE", Path, nullptr); }

std::string TFirebaseClient::Send(const std::string& method, const std::string& Path, const TJson* JSONData) {
  platform::HttpRequest request;
  request.method = method;
  request.url = BuildDatabaseUrl(FConfig.BaseURL, Path, FAuthToken);
  request.headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}};
  if (JSONData) request.body = JsonToText(*JSONData);
  return FHTTP->Send(request).body;
}

}  // namespace calvora
