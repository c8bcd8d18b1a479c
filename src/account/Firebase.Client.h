#pragma once
// The realtime database REST client: one request per call, the response
// body returned as text whatever the status (a record, "null" for a missing
// node, or an error object: interpreting it is the caller's task).
#include "account/Firebase.Config.h"
#include "foundation/JsonText.h"
#include "platform/http_client.h"

#include <memory>
#include <string>

namespace calvora {

// Base (one trailing "/" dropped) + "/" unless Path starts with one + the
// node part of Path + ".json" + the query part ("?..." kept as it is), then
// "auth=" + token with "&" or "?" when a token is given. The token is not
// encoded.
std::string BuildDatabaseUrl(const std::string& baseURL, const std::string& path,
                             const std::string& authToken);

class TFirebaseClient {
 public:
  explicit TFirebaseClient(const TFirebaseConfig& AConfig);
  ~TFirebaseClient();
  TFirebaseClient(const TFirebaseClient&) = delete;
  TFirebaseClient& operator=(const TFirebaseClient&) = delete;

  // Path is relative to the database root ("Lisanslar", "MailSettings/Admin"),
  // optionally followed by "?query". Transport failures throw
  // (platform::HttpTransportError); the status code is not examined.
  std::string Get(const std::string& Path);
  std::string Post(const std::string& Path, const TJson& JSONData);
  std::string Put(const std::string& Path, const TJson& JSONData);
  std::string Patch(const std::string& Path, const TJson& JSONData);
  std::string Delete(const std::string& Path);

  const std::string& AuthToken() const { return FAuthToken; }
  void SetAuthToken(const std::string& Value) { FAuthToken = Value; }

 private:
  std::string Send(const std::string& method, const std::string& Path, const TJson* JSONData);

  TFirebaseConfig FConfig;
  std::unique_ptr<platform::HttpClient> FHTTP;
  std::string FAuthToken;
};

}  // namespace calvora
