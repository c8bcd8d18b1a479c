// OAuth half of the emulator's Google routes (authorization and token
// endpoints) and the registration of all Google routes.
#include "DevCloud.h"
#include "GoogleHttp.h"
#include "GoogleState.h"

#include <httplib.h>

namespace calvora::devcloud {

void RegisterDriveRoutes(httplib::Server& server, DevCloud& cloud);  // GoogleDriveRoutes.cpp

namespace {

void SendOAuthError(httplib::Response& res, int status, const std::string& error, const std::string& description) {
  SendJson(res, status, {{"error", error}, {"error_description", description}});
}

void SendErrorPage(httplib::Response& res, int status, const std::string& error, const std::string& detail) {
  res.status = status;
  res.set_content("<html><body><h1>Error " + std::to_string(status) + ": " + error + "</h1><p>" + detail +
                      "</p></body></html>",
                  "text/html; charset=UTF-8");
}

bool IsLoopbackRedirect(const std::string& uri) {
  for (const char* prefix : {"http://localhost", "http://127.0.0.1", "http://[::1]"}) {
    std::string p(prefix);
    if (uri.compare(0, p.size(), p) == 0 && (uri.size() == p.size() || uri[p.size()] == ':' || uri[p.size()] == '/'))
      return true;
  }
  return false;
}

// The consent page: the test user agrees at once and the browser is sent
// back to the redirect address with a code.
void HandleAuthorize(GoogleState& google, const httplib::Request& req, httplib::Response& res) {
  const std::string clientId = req.get_param_value("client_id");
  const std::string redirectUri = req.get_param_value("redirect_uri");
  if (clientId.empty()) return SendErrorPage(res, 400, "invalid_request", "Missing required parameter: client_id");
  if (!google.KnownClient(clientId)) return SendErrorPage(res, 401, "invalid_client", "The OAuth client was not found.");
  if (redirectUri.empty()) return SendErrorPage(res, 400, "invalid_request", "Missing required parameter: redirect_uri");
  if (!IsLoopbackRedirect(redirectUri))
    return SendErrorPage(res, 400, "redirect_uri_mismatch", "The redirect URI is not a loopback address.");

  const std::string state = req.get_param_value("state");
  const std::string separator = redirectUri.find('?') == std::string::npos ? "?" : "&";
  const std::string statePart = state.empty() ? "" : "state=" + httplib::detail::encode_query_param(state) + "&";
  auto redirectError = [&](const std::string& error) {
    res.set_redirect(redirectUri + separator + statePart + "error=" + error, 302);
  };
  if (req.get_param_value("response_type") != "code") return redirectError("unsupported_response_type");
  const std::string scope = req.get_param_value("scope");
  if (scope.empty()) return SendErrorPage(res, 400, "invalid_request", "Missing required parameter: scope");
  const std::string challenge = req.get_param_value("code_challenge");
  std::string method = req.get_param_value("code_challenge_method");
  if (!challenge.empty() && method.empty()) method = "plain";
  if (!challenge.empty() && method != "S256" && method != "plain")
    return SendErrorPage(res, 400, "invalid_request", "Invalid code_challenge_method value.");
  if (challenge.empty() && !method.empty())
    return SendErrorPage(res, 400, "invalid_request", "Missing code_challenge.");

  const bool offline = req.get_param_value("access_type") == "offline";
  const std::string code = google.MintAuthCode(clientId, redirectUri, challenge, method, offline, scope);
  res.set_redirect(redirectUri + separator + statePart + "code=" + code + "&scope=" +
                       httplib::detail::encode_query_param(scope),
                   302);
}

void HandleToken(DevCloud& cloud, GoogleState& google, const httplib::Request& req, httplib::Response& res,
                 const httplib::ContentReader& reader) {
  std::string body;
  if (!ReadSmallBody(cloud, req, res, reader, body)) return;
  if (req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) != 0)
    return SendOAuthError(res, 400, "invalid_request", "Invalid Content-Type; a form body is required.");
  auto form = ParseForm(body);
  const std::string grantType = FormValue(form, "grant_type");
  GoogleState::GrantResult result;
  if (grantType == "authorization_code") {
    result = google.RedeemAuthCode(FormValue(form, "code"), FormValue(form, "client_id"),
                                   FormValue(form, "client_secret"), FormValue(form, "redirect_uri"),
                                   FormValue(form, "code_verifier"));
  } else if (grantType == "refresh_token") {
    result = google.RedeemRefreshToken(FormValue(form, "refresh_token"), FormValue(form, "client_id"),
                                       FormValue(form, "client_secret"));
  } else if (grantType.empty()) {
    return SendOAuthError(res, 400, "invalid_request", "Missing required parameter: grant_type");
  } else {
    return SendOAuthError(res, 400, "unsupported_grant_type", "Invalid grant_type: " + grantType);
  }
  if (!result.ok()) return SendOAuthError(res, result.status, result.error, result.description);
  GoogleJson answer = {{"access_token", result.tokens.accessToken}, {"expires_in", result.tokens.expiresIn}};
  if (!result.tokens.refreshToken.empty()) answer["refresh_token"] = result.tokens.refreshToken;
  answer["scope"] = kDriveFileScope;
  answer["token_type"] = "Bearer";
  res.set_header("Cache-Control", "no-cache, no-store, max-age=0, must-revalidate");
  SendJson(res, 200, answer);
  google.Flush();
}

}  // namespace

std::unique_ptr<GoogleState> MakeGoogleState(const std::string& dataDir) {
  return std::make_unique<GoogleState>(dataDir);
}

void RegisterGoogleRoutes(httplib::Server& server, DevCloud& cloud) {
  GoogleState& google = cloud.Google();
  // Every Google route with a body reads it through DevCloud::ReceiveBody.
  for (const char* prefix : {"/token", "/drive/v3/", "/upload/drive/v3/"}) cloud.AddBodyReadingPrefix(prefix);
  server.Get("/o/oauth2/v2/auth",
             [&google](const httplib::Request& req, httplib::Response& res) { HandleAuthorize(google, req, res); });
  server.Post("/token", [&cloud, &google](const httplib::Request& req, httplib::Response& res,
                                          const httplib::ContentReader& reader) {
    HandleToken(cloud, google, req, res, reader);
  });
  RegisterDriveRoutes(server, cloud);
}

}  // namespace calvora::devcloud
