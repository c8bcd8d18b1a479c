#include "account/Firebase.Auth.h"

#include "foundation/JsonText.h"

namespace calvora {

TFirebaseAuth::TFirebaseAuth(const TFirebaseConfig& AConfig)
    : FConfig(AConfig), FHTTP(std::make_unique<platform::HttpClient>()) {}

TFirebaseAuth::~TFirebaseAuth() = default;

TAuthResponse TFirebaseAuth::SignIn(const std::string& Email, const std::string& Password) {
  return Send("signInWithPassword", Email, Password, true);
}

TAuthResponse TFirebaseAuth::SignUp(const std::string& Email, const std::string& Password) {
  return Send("signUp", Email, Password, false);
}

TAuthResponse TFirebaseAuth::Send(const std::string& endpoint, const std::string& Email,
                                  const std::string& Password, bool signIn) {
  TJson body = TJson::object();
  body["email"] = Email;
  body["password"] = Password;
  body["returnSecureToken"] = true;

  platform::HttpRequest request;
  request.method = "POST";
  request.url = FirebaseAuthEndpointUrl(FConfig, endpoint);
  request.headers = {{"Content-Type", "application/json"}};
  request.body = JsonToText(body);
  platform::HttpResponse response = FHTTP->Send(request);

  TAuthResponse result;
  TJson answer;
  if (!TryParseJson(response.body, answer) || !answer.is_object()) return result;
  if (response.status == 200) {
    result.Success = true;
    result.IdToken = JsonMemberText(answer, "idToken");
    result.Email = JsonMemberText(answer, "email");
    result.LocalId = JsonMemberText(answer, "localId");
    if (signIn) {
      result.RefreshToken = JsonMemberText(answer, "refreshToken");
      result.ExpiresIn = JsonMemberText(answer, "expiresIn");
    }
  } else if (JsonHas(answer, "error")) {
    result.ErrorMessage = JsonMemberText(answer["error"], "message");
  }
  return result;
}

}  // namespace calvora
