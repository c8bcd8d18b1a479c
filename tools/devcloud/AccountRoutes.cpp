// The account directory's REST endpoints: e-mail/password sign-in and
// sign-up in the authentication service's shape, and the realtime database
// below "/rtdb/" ("<path>.json", "auth" query parameter).
#include "AccountDirectoryState.h"
#include "DevCloud.h"

#include <httplib.h>

namespace calvora::devcloud {
namespace {

constexpr const char kJson[] = "application/json; charset=utf-8";
constexpr const char kDatabasePrefix[] = "/rtdb/";

// The authentication service's error body.
void AuthError(httplib::Response& res, const std::string& message, const std::string& reason = "invalid") {
  DatabaseJson body = {{"error",
                        {{"code", 400},
                         {"message", message},
                         {"errors", DatabaseJson::array({{{"message", message}, {"domain", "global"}, {"reason", reason}}})}}}};
  if (reason == "badRequest") body["error"]["status"] = "INVALID_ARGUMENT";
  res.status = 400;
  res.set_content(body.dump(-1, ' ', false, DatabaseJson::error_handler_t::replace), kJson);
}

void DatabaseError(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(DatabaseJson{{"error", message}}.dump(-1, ' ', false, DatabaseJson::error_handler_t::replace), kJson);
}

void HandleAccount(AccountDirectoryState& state, const httplib::Request& req, httplib::Response& res, bool signUp) {
  if (!req.has_param("key") || req.get_param_value("key") != state.ApiKey()) {
    AuthError(res, "API key not valid. Please pass a valid API key.", "badRequest");
    return;
  }
  DatabaseJson body = DatabaseJson::parse(req.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) {
    AuthError(res, "INVALID_JSON_PAYLOAD", "badRequest");
    return;
  }
  const std::string email = body.contains("email") && body["email"].is_string() ? body["email"].get<std::string>() : "";
  const std::string password =
      body.contains("password") && body["password"].is_string() ? body["password"].get<std::string>() : "";
  if (email.empty() || email.find('@') == std::string::npos) return AuthError(res, "INVALID_EMAIL");
  if (password.empty()) return AuthError(res, "MISSING_PASSWORD");
  if (signUp && password.size() < 6) return AuthError(res, "WEAK_PASSWORD : Password should be at least 6 characters");

  std::string localId, idToken, refreshToken;
  int expiresIn = 0;
  using Outcome = AccountDirectoryState::SignInOutcome;
  const Outcome outcome = signUp ? state.SignUp(email, password, localId, idToken, refreshToken, expiresIn)
                                 : state.SignIn(email, password, localId, idToken, refreshToken, expiresIn);
  switch (outcome) {
    case Outcome::EmailNotFound: return AuthError(res, "EMAIL_NOT_FOUND");
    case Outcome::InvalidPassword: return AuthError(res, "INVALID_PASSWORD");
    case Outcome::UserDisabled: return AuthError(res, "USER_DISABLED : The user account has been disabled by an administrator.");
    case Outcome::EmailExists: return AuthError(res, "EMAIL_EXISTS");
    case Outcome::Ok: break;
  }
  DatabaseJson answer = DatabaseJson::object();
  answer["kind"] = signUp ? "identitytoolkit#SignupNewUserResponse" : "identitytoolkit#VerifyPasswordResponse";
  answer["localId"] = localId;
  answer["email"] = email;
  if (!signUp) answer["displayName"] = "";
  answer["idToken"] = idToken;
  if (!signUp) answer["registered"] = true;
  answer["refreshToken"] = refreshToken;
  answer["expiresIn"] = std::to_string(expiresIn);
  res.status = 200;
  res.set_content(answer.dump(-1, ' ', false, DatabaseJson::error_handler_t::replace), kJson);
}

// The node path of a database request, or false (with the answer set) when
// the request is refused.
bool DatabasePath(AccountDirectoryState& state, const httplib::Request& req, httplib::Response& res,
                  std::string& path) {
  std::string rest = req.path.substr(std::string(kDatabasePrefix).size());
  if (rest.size() < 5 || rest.compare(rest.size() - 5, 5, ".json") != 0) {
    DatabaseError(res, 404, "404 Not Found");
    return false;
  }
  path = rest.substr(0, rest.size() - 5);
  if (path.find_first_of(".#$[]") != std::string::npos) {
    DatabaseError(res, 400, "Invalid path: Invalid token in path");
    return false;
  }
  if (state.RequireAuth()) {
    const std::string token = req.has_param("auth") ? req.get_param_value("auth") : "";
    const auto check = state.CheckToken(token);
    if (check == AccountDirectoryState::TokenCheck::Expired) {
      DatabaseError(res, 401, "Auth token is expired");
      return false;
    }
    if (check != AccountDirectoryState::TokenCheck::Ok) {
      DatabaseError(res, 401, "Permission denied");
      return false;
    }
  }
  return true;
}

bool ParseBody(const httplib::Request& req, httplib::Response& res, DatabaseJson& value, bool objectOnly) {
  value = DatabaseJson::parse(req.body, nullptr, false);
  if (value.is_discarded()) {
    DatabaseError(res, 400, "Invalid data; couldn't parse JSON object, array, or value.");
    return false;
  }
  if (objectOnly && !value.is_object()) {
    DatabaseError(res, 400, "Invalid data; couldn't parse JSON object. Are you sending a JSON object with valid key names?");
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<AccountDirectoryState> MakeAccountDirectoryState(const std::string& dataDir) {
  return std::make_unique<AccountDirectoryState>(dataDir);
}

void RegisterAccountRoutes(httplib::Server& server, DevCloud& cloud) {
  AccountDirectoryState& state = cloud.Account();
  server.Post("/v1/accounts:signInWithPassword", [&state](const httplib::Request& req, httplib::Response& res) {
    HandleAccount(state, req, res, false);
  });
  server.Post("/v1/accounts:signUp", [&state](const httplib::Request& req, httplib::Response& res) {
    HandleAccount(state, req, res, true);
  });

  const std::string pattern = std::string(kDatabasePrefix) + ".*";
  server.Get(pattern, [&state](const httplib::Request& req, httplib::Response& res) {
    std::string path;
    if (!DatabasePath(state, req, res, path)) return;
    res.set_content(state.Read(path).dump(-1, ' ', false, DatabaseJson::error_handler_t::replace), kJson);
  });
  server.Put(pattern, [&state](const httplib::Request& req, httplib::Response& res) {
    std::string path;
    DatabaseJson value;
    if (!DatabasePath(state, req, res, path) || !ParseBody(req, res, value, false)) return;
    state.Write(path, value);
    res.set_content(value.dump(-1, ' ', false, DatabaseJson::error_handler_t::replace), kJson);
  });
  server.Patch(pattern, [&state](const httplib::Request& req, httplib::Response& res) {
    std::string path;
    DatabaseJson value;
    if (!DatabasePath(state, req, res, path) || !ParseBody(req, res, value, true)) return;
    state.Merge(path, value);
    res.set_content(value.dump(-1, ' ', false, DatabaseJson::error_handler_t::replace), kJson);
  });
  server.Post(pattern, [&state](const httplib::Request& req, httplib::Response& res) {
    std::string path;
    DatabaseJson value;
    if (!DatabasePath(state, req, res, path) || !ParseBody(req, res, value, false)) return;
    res.set_content(DatabaseJson{{"name", state.Push(path, value)}}.dump(-1, ' ', false, DatabaseJson::error_handler_t::replace), kJson);
  });
  server.Delete(pattern, [&state](const httplib::Request& req, httplib::Response& res) {
    std::string path;
    if (!DatabasePath(state, req, res, path)) return;
    state.Remove(path);
    res.set_content("null", kJson);
  });
}

}  // namespace calvora::devcloud
