#include "google/uGoogleAuth.h"

#include "foundation/AppError.h"
#include "foundation/Crypto.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "foundation/uSecureString.h"
#include "google/UserPrompts.h"
#include "platform/file_io.h"
#include "platform/http_client.h"

#include <exception>

namespace calvora {
namespace {

constexpr const char* kDriveFileScope = "https://www.googleapis.com/auth/drive.file";
constexpr const char* kBom = "\xEF\xBB\xBF";
constexpr int kExpirySafetyMinutes = 5;

// Each token request gets its own client with the default time-outs.
platform::HttpResponse PostForm(const std::string& url, const std::string& body) {
  platform::HttpClient client;
  platform::HttpRequest request;
  request.method = "POST";
  request.url = url;
  request.headers = {{"Content-Type", "application/x-www-form-urlencoded"}};
  request.body = body;
  return client.Send(request);
}

// "expires_in" in seconds; 3600 when it is not an integer.
std::int64_t ExpiresInSeconds(const TJson& answer) {
  long long seconds = 0;
  if (TryParseInt64(JsonMemberText(answer, "expires_in"), seconds)) return seconds;
  return 3600;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return SanitizeUtf8(out);
}

}  // namespace

bool TTokenData::IsExpired(TDateTime Now) const {
  return IncMinutes(ExpiresAt, -kExpirySafetyMinutes) < Now;
}

TGoogleAuth::TGoogleAuth(TEnv& env, const std::string& ClientID, const std::string& ClientSecret, int Port,
                         bool InteractiveMessages, TUserPrompts* Prompts)
    : FEnv(env),
      FClientID(ClientID),
      FClientSecret(ClientSecret),
      FPort(Port),
      FInteractiveMessages(InteractiveMessages),
      FPrompts(Prompts ? Prompts : &NoUserPrompts()) {}

TGoogleAuth::~TGoogleAuth() = default;

void TGoogleAuth::SetUserPrompts(TUserPrompts* Prompts) { FPrompts = Prompts ? Prompts : &NoUserPrompts(); }

void TGoogleAuth::ShowInfo(const std::string& Text) {
  if (FInteractiveMessages) FPrompts->ShowMessage(Text);
}

std::string TGoogleAuth::RedirectUri() const { return "http://localhost:" + std::to_string(FPort) + "/callback"; }

std::string TGoogleAuth::GetValidToken() {
  std::lock_guard<std::recursive_mutex> guard(FTokenLock);
  // The central pool may hand over a refresh token alone: it is renewed
  // into an access token here rather than taken for no token at all.
  if (FTokenData.AccessToken.empty() && FTokenData.RefreshToken.empty()) {
    ShowInfo("Token yüklü değil. Önce Yetkilendir butonuna tıklayın.");
    return std::string();
  }
  if (FTokenData.AccessToken.empty() || FTokenData.IsExpired(FEnv.Now())) {
    LogInfo("Access token suresi doldu veya dolmak uzere, refresh deneniyor");
    if (!RefreshAccessToken()) {
      LogWarn("Refresh basarisiz, yeniden yetkilendirme gerekli");
      ShowInfo("Token süresi doldu ve yenilenemedi. Yeniden yetkilendirme gerekli.");
      return std::string();
    }
  }
  return FTokenData.AccessToken;
}

std::string TGoogleAuth::RenewRejectedToken(const std::string& RejectedToken) {
  std::lock_guard<std::recursive_mutex> guard(FTokenLock);
  // Another request may have renewed it since this one was sent.
  if (!FTokenData.AccessToken.empty() && FTokenData.AccessToken != RejectedToken) return FTokenData.AccessToken;
  LogWarn("Google erisim tokeni suresinden once reddedildi, refresh deneniyor");
  if (!RefreshAccessToken()) {
    LogWarn("Refresh basarisiz, yeniden yetkilendirme gerekli");
    ShowInfo("Token süresi doldu ve yenilenemedi. Yeniden yetkilendirme gerekli.");
    return std::string();
  }
  return FTokenData.AccessToken;
}

void TGoogleAuth::SetTokenData(const TTokenData& Value) {
  std::lock_guard<std::recursive_mutex> guard(FTokenLock);
  FTokenData = Value;
}

bool TGoogleAuth::TryGetTokenData(TTokenData& Value) const {
  std::lock_guard<std::recursive_mutex> guard(FTokenLock);
  Value = FTokenData;
  return !IsBlank(FTokenData.AccessToken) || !IsBlank(FTokenData.RefreshToken);
}

bool TGoogleAuth::RefreshAccessToken() {
  if (FTokenData.RefreshToken.empty()) {
    LogWarn("Refresh token yok, yenileme yapilamaz");
    return false;
  }
  try {
    std::string body = "client_id=" + platform::UrlEncode(FClientID) +
                       "&client_secret=" + platform::UrlEncode(FClientSecret) +
                       "&refresh_token=" + platform::UrlEncode(FTokenData.RefreshToken) +
                       "&grant_type=refresh_token";
    platform::HttpResponse response = PostForm(FEnv.Deployment().GoogleTokenEndpoint, body);
    LogDebugFmt("Refresh yaniti: HTTP %d", response.status);
    if (response.status != 200) {
      LogErrorFmt("Refresh hata: %s", response.body);
      return false;
    }
    TJson answer;
    if (!TryParseJson(response.body, answer) || !answer.is_object() || !JsonHas(answer, "access_token"))
      return false;
    FTokenData.AccessToken = JsonMemberText(answer, "access_token");
    if (JsonHas(answer, "expires_in")) FTokenData.ExpiresAt = IncSeconds(FEnv.Now(), ExpiresInSeconds(answer));
    if (JsonHas(answer, "refresh_token")) FTokenData.RefreshToken = JsonMemberText(answer, "refresh_token");
    if (!FTokenPath.empty()) SaveTokens(FTokenPath);
    LogInfoFmt("Access token yenilendi, yeni expires=%s", FormatRegionalDateTime(FTokenData.ExpiresAt));
    return true;
  } catch (const std::exception& e) {
    LogException("Refresh istisna", e);
    return false;
  }
}

void TGoogleAuth::LoadTokens(const std::string& Path) {
  std::lock_guard<std::recursive_mutex> guard(FTokenLock);
  FTokenPath = Path;
  FTokenData = TTokenData();
  if (!FileExists(Path)) return;

  std::string inner;
  std::string text;
  bool readable = true;
  try {
    text = Trim(ReadTextFile(Path));
  } catch (const std::exception&) {
    readable = false;
  }
  if (!readable || text.empty() || IsProtectedSecret(text)) {
    if (!readable || !TryUnprotectSecret(text, inner)) {
      inner.clear();
      LogWarnFmt("Token dosyasi okunamadi veya bozuk: %s", Path);
    }
  } else {
    // A file from before protection existed: protect it at once.
    inner = text;
    try {
      platform::WriteSharedProtectedFile(Path, std::string(kBom) + ProtectSecret(inner));
    } catch (const std::exception& e) {
      LogException("Token dosyasi korumali yazilamadi: " + Path, e);
    }
  }

  bool haveExpiry = false;
  for (std::string line : Split(inner, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string name = Trim(line.substr(0, eq));
    std::string value = line.substr(eq + 1);
    if (SameText(name, "AccessToken")) {
      FTokenData.AccessToken = value;
    } else if (SameText(name, "RefreshToken")) {
      FTokenData.RefreshToken = value;
    } else if (SameText(name, "ExpiresAt")) {
      TDateTime at = 0;
      if (TryParseRegionalDateTime(value, at)) {
        FTokenData.ExpiresAt = at;
        haveExpiry = true;
      }
    }
  }
  // Unknown expiry: treat the token as due, so it is refreshed at first use.
  if (!haveExpiry) FTokenData.ExpiresAt = FEnv.Now();
}

void TGoogleAuth::SaveTokens(const std::string& Path) {
  std::lock_guard<std::recursive_mutex> guard(FTokenLock);
  FTokenPath = Path;
  std::string inner;
  if (!FTokenData.AccessToken.empty()) inner += "AccessToken=" + FTokenData.AccessToken + "\r\n";
  if (!FTokenData.RefreshToken.empty()) inner += "RefreshToken=" + FTokenData.RefreshToken + "\r\n";
  inner += "ExpiresAt=" + FormatRegionalDateTime(FTokenData.ExpiresAt) + "\r\n";
  std::string protectedText = ProtectSecret(inner);
  try {
    platform::WriteSharedProtectedFile(Path, std::string(kBom) + protectedText);
  } catch (const std::exception& e) {
    throw EFileError("Token dosyasi yazilamadi: " + Path + " (" + e.what() + ")");
  }
}

bool TGoogleAuth::GeneratePKCE(std::string& Challenge) {
  std::string random;
  if (!RandomBytes(32, random) || random.size() != 32) return false;
  FCodeVerifier = ReplaceAll(Base64UrlEncode(random), "=", "");
  Challenge = ReplaceAll(Base64UrlEncode(Sha256(FCodeVerifier)), "=", "");
  return !FCodeVerifier.empty() && !Challenge.empty();
}

std::string TGoogleAuth::BuildAuthURL(const std::string& Challenge) const {
  return FEnv.Deployment().GoogleAuthEndpoint + "?client_id=" + platform::UrlEncode(FClientID) +
         "&redirect_uri=" + platform::UrlEncode(RedirectUri()) + "&response_type=code" +
         "&scope=" + platform::UrlEncode(kDriveFileScope) + "&access_type=offline" + "&prompt=consent" +
         "&code_challenge=" + platform::UrlEncode(Challenge) + "&code_challenge_method=S256";
}

bool TGoogleAuth::Authenticate() {
  FAuthCode.clear();
  LogInfo("OAuth akisi baslatildi");
  try {
    std::string challenge;
    if (!GeneratePKCE(challenge)) {
      LogError("PKCE olusturulamadi");
      ShowInfo("PKCE oluşturulamadı");
      return false;
    }
    std::string url = BuildAuthURL(challenge);
    LogInfoFmt("Auth URL: %s", url);
    FPrompts->OpenUrl(url);
    ShowInfo(
        "Tarayıcı sizi localhost callback adresine yönlendirdikten sonra adres çubuğundaki tam URL'yi "
        "kopyalayın.\r\nSadece \"code=\" değerini de yapıştırabilirsiniz.\r\nSonra OK'ye basın.");

    std::string code = ExtractAuthCode(FPrompts->ReadClipboard());
    if (code.empty()) {
      ShowInfo("Code bulunamadı!");
      return false;
    }
    LogDebugFmt("Auth code alindi (%d karakter)", code.size());
    FAuthCode = code;

    std::string body = "code=" + platform::UrlEncode(FAuthCode) + "&client_id=" + platform::UrlEncode(FClientID) +
                       "&client_secret=" + platform::UrlEncode(FClientSecret) +
                       "&redirect_uri=" + platform::UrlEncode(RedirectUri()) +
                       "&code_verifier=" + platform::UrlEncode(FCodeVerifier) + "&grant_type=authorization_code";
    LogDebug("Token istegi gonderiliyor");
    platform::HttpResponse response;
    try {
      response = PostForm(FEnv.Deployment().GoogleTokenEndpoint, body);
    } catch (const std::exception& e) {
      LogException("Token HTTP istegi basarisiz", e);
      throw;
    }
    LogInfoFmt("Token yaniti: HTTP %d", response.status);
    if (response.status >= 400) LogErrorFmt("Token hata yaniti: %s", response.body);

    TJson answer;
    if (!TryParseJson(response.body, answer) || !answer.is_object()) return false;
    if (JsonHas(answer, "error")) {
      std::string text = JsonMemberText(answer, "error");
      if (JsonHas(answer, "error_description")) text += "\r\n" + JsonMemberText(answer, "error_description");
      LogErrorFmt("OAuth hata: %s", text);
      ShowInfo("Google Hata: " + text + "\r\n\r\n" + "Tam Yanıt: " + response.body);
      return false;
    }
    if (response.status != 200) {
      ShowInfo("Token alınamadı.\r\nHata: " + std::to_string(response.status) + "\r\n" + "Yanıt: " + response.body);
      return false;
    }
    if (JsonHas(answer, "access_token")) {
      FTokenData.AccessToken = JsonMemberText(answer, "access_token");
      if (JsonHas(answer, "refresh_token")) FTokenData.RefreshToken = JsonMemberText(answer, "refresh_token");
      if (JsonHas(answer, "expires_in")) FTokenData.ExpiresAt = IncSeconds(FEnv.Now(), ExpiresInSeconds(answer));
      LogInfoFmt("Token alindi, access_token uzunlugu=%d, refresh_token var=%s, expires=%s",
                 FTokenData.AccessToken.size(), FTokenData.RefreshToken.empty() ? "False" : "True",
                 FormatRegionalDateTime(FTokenData.ExpiresAt));
      ShowInfo("Yetkilendirme başarılı! Token alındı.");
      return true;
    }
    ShowInfo("Token alınamadı. Yanıt: " + response.body);
    return false;
  } catch (const std::exception& e) {
    LogException("Authenticate genel hata", e);
    ShowInfo(std::string("Hata: ") + e.what());
    return false;
  }
}

std::string ExtractAuthCode(const std::string& Text) {
  std::string s = Trim(Text);
  if (s.empty()) return s;
  size_t at = s.find("code=");
  if (at != std::string::npos) {
    s = s.substr(at + 5);
    size_t amp = s.find('&');
    if (amp != std::string::npos) s.resize(amp);
  }
  return PercentDecode(Trim(s));
}

}  // namespace calvora
