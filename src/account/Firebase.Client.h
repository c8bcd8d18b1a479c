#pragma once
// The realtime database REST client: one request per call. `Request` gives
// the status beside the body; the verb shorthands return the body alone
// (a record, "null" for a missing node, or an error object).
#include "account/Firebase.Config.h"
#include "foundation/JsonText.h"
#include "platform/http_client.h"

#include <memory>
#include <string>

namespace calvora {

// Base (one trailing "/" dropped) + "/" unless Path starts with one + the
// node part of Path + ".json" + the query part ("?..." kept as it is), then
// "auth=" + token with "&" or "?" when a token is given. Bytes of the node
// part that a URL path cannot carry are percent-encoded ("%" is left alone:
// keys are encoded by EncodeDatabaseKey before they are joined). The token is
// not encoded.
std::string BuildDatabaseUrl(const std::string& baseURL, const std::string& path,
                             const std::string& authToken);

// A key as one path segment: every byte but letters, digits and "-_.~"
// percent-encoded, so "?", "%", "#" or "/" in a key can never change which
// node a request reads.
std::string EncodeDatabaseKey(const std::string& key);
// `parent` + "/" + the encoded key.
std::string DatabaseChildPath(const std::string& parent, const std::string& key);
// A node path of keys as the database listed them ("a/b/c"), each encoded.
std::string EncodeDatabaseNodePath(const std::string& nodePath);

struct TFirebaseResponse {
  int Status = 0;
  std::string Body;
};

// True when the answer is a refusal rather than data: a status outside 2xx,
// or a body that is only {"error": ...}. Message is the server's text.
bool IsDatabaseErrorAnswer(const TFirebaseResponse& answer, std::string& message);

class TFirebaseClient {
 public:
  explicit TFirebaseClient(const TFirebaseConfig& AConfig);
  ~TFirebaseClient();
  TFirebaseClient(const TFirebaseClient&) = delete;
  TFirebaseClient& operator=(const TFirebaseClient&) = delete;

  // Path is relative to the database root ("Lisanslar", "MailSettings/Admin"),
  // optionally followed by "?query". Transport failures throw
  // (platform::HttpTransportError).
  TFirebaseResponse Request(const std::string& method, const std::string& Path, const TJson* JSONData = nullptr);
  std::string Get(const std::string& Path);
  std::string Post(const std::string& Path, const TJson& JSONData);
  std::string Put(const std::string& Path, const TJson& JSONData);
  std::string Patch(const std::string& Path, const TJson& JSONData);
  std::string Delete(const std::string& Path);

  const std::string& AuthToken() const { return FAuthToken; }
  void SetAuthToken(const std::string& Value) { FAuthToken = Value; }

 private:
  TFirebaseConfig FConfig;
  std::unique_ptr<platform::HttpClient> FHTTP;
  std::string FAuthToken;
};

}  // namespace calvora
