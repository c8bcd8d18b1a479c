// OAuth client: token validity and refresh, the token cache file, the
// pasted-code reader and the interactive authorization against the emulator.
#include "GoogleTestSupport.h"
#include "foundation/TextFile.h"
#include "foundation/uSecureString.h"

namespace calvora::test {
namespace {

class GoogleAuthTest : public ::testing::Test {
 protected:
  GoogleAuthTest()
      : env(cloud.Deployment()),
        auth(env.Env(), TDevCloudFixture::kClientID, TDevCloudFixture::kClientSecret, 8080, true, &prompts) {}

  TTokenData Token(std::int64_t expiresInSeconds) {
    TTokenData t;
    t.AccessToken = cloud.AccessToken();
    t.RefreshToken = cloud.RefreshToken();
    t.ExpiresAt = IncSeconds(env.Env().Now(), expiresInSeconds);
    return t;
  }

  TDevCloudFixture cloud;
  TTestEnv env;
  TFakePrompts prompts;
  TGoogleAuth auth;
  TLogCapture log;
};

TEST_F(GoogleAuthTest, RefreshesOnlyWhenTheTokenIsAboutToRunOut) {
  struct Case {
    std::int64_t expiresIn;
    bool refreshed;
  };
  for (const Case c : {Case{6 * 60, false}, Case{4 * 60, true}, Case{-60, true}}) {
    auth.SetTokenData(Token(c.expiresIn));
    const int before = cloud.Google().GrantCount("refresh_token");
    const std::string token = auth.GetValidToken();
    EXPECT_EQ(cloud.Google().GrantCount("refresh_token") - before, c.refreshed ? 1 : 0) << c.expiresIn;
    EXPECT_EQ(token == cloud.AccessToken(), !c.refreshed) << c.expiresIn;
    EXPECT_TRUE(cloud.Google().IsValidAccessToken(token));
    EXPECT_EQ(auth.TokenData().RefreshToken, cloud.RefreshToken()) << "an answer without refresh_token keeps it";
    if (c.refreshed) {
      EXPECT_EQ(MillisecondsBetween(auth.TokenData().ExpiresAt, IncSeconds(env.Env().Now(), 3599)), 0);
    }
  }
  EXPECT_TRUE(log.Contains(TLogLevel::Info, "Access token suresi doldu veya dolmak uzere, refresh deneniyor"));
  EXPECT_TRUE(log.Contains(TLogLevel::Info, "Access token yenilendi, yeni expires="));
}

TEST_F(GoogleAuthTest, HasNoTokenWithoutAnyToken) {
  auth.SetTokenData(TTokenData());
  EXPECT_EQ(auth.GetValidToken(), "");
  ASSERT_FALSE(prompts.messages.empty());
  EXPECT_EQ(prompts.messages.back(), "Token yüklü değil. Önce Yetkilendir butonuna tıklayın.");
  TTokenData copy;
  EXPECT_FALSE(auth.TryGetTokenData(copy));
  EXPECT_EQ(cloud.Google().GrantCount("refresh_token"), 0);
}

// The central pool may store a refresh token without an access token (and
// with any expiry): it is renewed into an access token at first use.
TEST_F(GoogleAuthTest, RefreshTokenAloneIsRenewedAtFirstUse) {
  const std::string path = JoinPath(env.DataDir(), "syc.dat");
  for (TDateTime expiry : {TDateTime(0), IncHours(env.Env().Now(), 1)}) {
    TTokenData onlyRefresh;
    onlyRefresh.RefreshToken = cloud.RefreshToken();
    onlyRefresh.ExpiresAt = expiry;
    auth.SetTokenData(onlyRefresh);
    auth.SaveTokens(path);
    TTokenData copy;
    EXPECT_TRUE(auth.TryGetTokenData(copy)) << "a refresh token alone counts as a token";
    const int before = cloud.Google().GrantCount("refresh_token");
    const std::string token = auth.GetValidToken();
    EXPECT_TRUE(cloud.Google().IsValidAccessToken(token)) << expiry;
    EXPECT_EQ(cloud.Google().GrantCount("refresh_token"), before + 1);
    EXPECT_EQ(auth.GetValidToken(), token) << "renewed once, then used";
    TGoogleAuth reader(env.Env(), "id", "secret", 8080, false);
    reader.LoadTokens(path);
    EXPECT_EQ(reader.TokenData().AccessToken, token);
  }
  cloud.Google().RevokeRefreshToken(cloud.RefreshToken());
  TTokenData dead;
  dead.RefreshToken = cloud.RefreshToken();
  auth.SetTokenData(dead);
  EXPECT_EQ(auth.GetValidToken(), "");
  EXPECT_EQ(prompts.messages.back(), "Token süresi doldu ve yenilenemedi. Yeniden yetkilendirme gerekli.");
}

TEST_F(GoogleAuthTest, RefusedRefreshKeepsTheTokenSet) {
  cloud.Google().RevokeRefreshToken(cloud.RefreshToken());
  const TTokenData old = Token(60);
  auth.SetTokenData(old);
  EXPECT_EQ(auth.GetValidToken(), "");
  EXPECT_EQ(auth.TokenData().AccessToken, old.AccessToken);
  EXPECT_EQ(auth.TokenData().ExpiresAt, old.ExpiresAt);
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Refresh hata: {\"error\":\"invalid_grant\""));
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Refresh basarisiz, yeniden yetkilendirme gerekli"));
  EXPECT_EQ(prompts.messages.back(), "Token süresi doldu ve yenilenemedi. Yeniden yetkilendirme gerekli.");

  TTokenData noRefresh = old;
  noRefresh.RefreshToken.clear();
  auth.SetTokenData(noRefresh);
  EXPECT_EQ(auth.GetValidToken(), "");
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Refresh token yok, yenileme yapilamaz"));
}

TEST_F(GoogleAuthTest, RefreshAnswerWithoutExpiryLeavesItSoTheNextUseRefreshesAgain) {
  int grants = 0;
  TStubServer token([&](httplib::Server& s) {
    s.Post("/token", [&](const httplib::Request& req, httplib::Response& res) {
      ++grants;
      EXPECT_NE(req.body.find("&grant_type=refresh_token"), std::string::npos);
      res.set_content("{\"access_token\":\"fresh-" + std::to_string(grants) + "\"}", "application/json");
    });
  });
  TDeploymentSettings deployment = cloud.Deployment();
  deployment.GoogleTokenEndpoint = token.Url("/token");
  TTestEnv stubEnv(deployment);
  TGoogleAuth stubAuth(stubEnv.Env(), "id", "secret", 8080, false);
  TTokenData data;
  data.AccessToken = "old";
  data.RefreshToken = "refresh";
  data.ExpiresAt = IncMinutes(stubEnv.Env().Now(), 1);
  stubAuth.SetTokenData(data);
  EXPECT_EQ(stubAuth.GetValidToken(), "fresh-1");
  EXPECT_EQ(stubAuth.TokenData().ExpiresAt, data.ExpiresAt);
  EXPECT_EQ(stubAuth.GetValidToken(), "fresh-2");
}

TEST_F(GoogleAuthTest, RefreshWritesTheCacheFileAtOnce) {
  const std::string path = JoinPath(env.DataDir(), "syc.dat");
  auth.SetTokenData(Token(60));
  auth.SaveTokens(path);
  const std::string renewed = auth.GetValidToken();
  ASSERT_NE(renewed, cloud.AccessToken());
  TGoogleAuth reader(env.Env(), "id", "secret", 8080, false);
  reader.LoadTokens(path);
  EXPECT_EQ(reader.TokenData().AccessToken, renewed);
  EXPECT_EQ(reader.TokenData().RefreshToken, cloud.RefreshToken());
}

TEST_F(GoogleAuthTest, TokenCacheFileIsAProtectedEnvelope) {
  const std::string path = JoinPath(env.DataDir(), "syc.dat");
  TTokenData data;
  data.AccessToken = "ya29.access";
  data.ExpiresAt = EncodeDateTime(2024, 3, 5, 11, 30, 15);
  auth.SetTokenData(data);
  auth.SaveTokens(path);
  EXPECT_EQ(auth.TokenPath(), path);

  const std::string raw = ReadFile(path);
  ASSERT_EQ(raw.rfind("\xEF\xBB\xBF" "dpapi:", 0), 0u) << "byte-order mark, then one envelope";
  EXPECT_EQ(UnprotectSecret(raw.substr(3)),
            "AccessToken=ya29.access\r\nExpiresAt=" + FormatRegionalDateTime(data.ExpiresAt) + "\r\n")
      << "no RefreshToken line for an empty refresh token";

  TGoogleAuth reader(env.Env(), "id", "secret", 8080, false);
  reader.LoadTokens(path);
  EXPECT_EQ(reader.TokenData().AccessToken, "ya29.access");
  EXPECT_EQ(reader.TokenData().RefreshToken, "");
  EXPECT_EQ(reader.TokenData().ExpiresAt, data.ExpiresAt);
}

TEST_F(GoogleAuthTest, LoadsLegacyDamagedAndPartialFiles) {
  const std::string path = JoinPath(env.DataDir(), "syc.dat");
  const TDateTime now = env.Env().Now();
  const TDateTime at = EncodeDateTime(2024, 3, 5, 12, 0, 0);
  struct Case {
    const char* name;
    std::string content;
    TTokenData expected;
    bool rewritten;  // the file is an envelope afterwards
  };
  const Case cases[] = {
      {"legacy plain text", "accesstoken=a1\r\nREFRESHTOKEN=r1=x\r\nExpiresAt=" + FormatRegionalDateTime(at) + "\r\n",
       TTokenData{"a1", "r1=x", at}, true},
      {"without ExpiresAt", "\xEF\xBB\xBF" + ProtectSecret("AccessToken=a2\r\n"), TTokenData{"a2", "", now}, true},
      {"unreadable ExpiresAt", "\xEF\xBB\xBF" + ProtectSecret("AccessToken=a3\r\nExpiresAt=soon\r\n"),
       TTokenData{"a3", "", now}, true},
      {"damaged envelope", "dpapi:AAAAbroken", TTokenData{"", "", now}, true},
      {"empty file", "", TTokenData{"", "", now}, false},
  };
  for (const Case& c : cases) {
    WriteFile(path, c.content);
    TGoogleAuth reader(env.Env(), "id", "secret", 8080, false);
    reader.LoadTokens(path);
    EXPECT_EQ(reader.TokenData().AccessToken, c.expected.AccessToken) << c.name;
    EXPECT_EQ(reader.TokenData().RefreshToken, c.expected.RefreshToken) << c.name;
    EXPECT_EQ(reader.TokenData().ExpiresAt, c.expected.ExpiresAt) << c.name;
    EXPECT_EQ(IsProtectedSecret(Trim(ReadTextFile(path))), c.rewritten) << c.name;
  }
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Token dosyasi okunamadi veya bozuk: " + path));

  DeleteFileIfExists(path);
  auth.SetTokenData(TTokenData{"x", "y", at});
  auth.LoadTokens(path);
  EXPECT_EQ(auth.TokenData().AccessToken, "") << "a missing file gives an empty token set";
  EXPECT_EQ(auth.TokenData().ExpiresAt, 0);
}

TEST(ExtractAuthCodeTest, FindsTheCodeInPastedText) {
  struct Case {
    const char* text;
    const char* code;
  };
  const Case cases[] = {
      {"http://localhost:8080/callback?code=4/0AbC-d_e&scope=https://www.googleapis.com/auth/drive.file",
       "4/0AbC-d_e"},
      {"http://localhost:8080/callback?state=xyz&code=4/0Q&scope=s", "4/0Q"},
      {"http://localhost:8080/callback?code=4/0Q&state=xyz", "4/0Q"},
      {"   4/0AXyz  \r\n", "4/0AXyz"},
      {"code=4%2F0AbC%20d", "4/0AbC d"},
      {"4%2F0A+b", "4/0A+b"},
      {"  ", ""},
      {"code=", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtractAuthCode(c.text), c.code) << c.text;
}

TEST_F(GoogleAuthTest, AuthenticateRunsTheCodeFlowWithPkce) {
  // The "browser" asks the emulator's consent page and the user copies the
  // address it is sent to.
  prompts.onOpen = [&](const std::string& url) {
    httplib::Client browser("127.0.0.1", cloud.Cloud().Port());
    auto answer = browser.Get(url.substr(cloud.BaseUrl().size()).c_str());
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 302);
    prompts.clipboard = answer->get_header_value("Location");
  };
  ASSERT_TRUE(auth.Authenticate());

  ASSERT_EQ(prompts.urls.size(), 1u);
  const std::string& url = prompts.urls[0];
  EXPECT_EQ(url.rfind(cloud.BaseUrl() + "/o/oauth2/v2/auth?client_id=" +
                          platform::UrlEncode(TDevCloudFixture::kClientID) +
                          "&redirect_uri=http%3A%2F%2Flocalhost%3A8080%2Fcallback&response_type=code"
                          "&scope=https%3A%2F%2Fwww.googleapis.com%2Fauth%2Fdrive.file&access_type=offline"
                          "&prompt=consent&code_challenge=",
                      0),
            0u)
      << url;
  EXPECT_NE(url.find("&code_challenge_method=S256"), std::string::npos);
  EXPECT_TRUE(cloud.Google().IsValidAccessToken(auth.TokenData().AccessToken));
  EXPECT_FALSE(auth.TokenData().RefreshToken.empty());
  EXPECT_EQ(auth.TokenData().ExpiresAt, IncSeconds(env.Env().Now(), 3599));
  EXPECT_EQ(prompts.messages.back(), "Yetkilendirme başarılı! Token alındı.");
  EXPECT_TRUE(log.Contains(TLogLevel::Info, "Token yaniti: HTTP 200"));
  EXPECT_TRUE(log.Contains(TLogLevel::Info, "refresh_token var=True"));
  EXPECT_FALSE(FileExists(JoinPath(env.DataDir(), "syc.dat"))) << "Authenticate does not save";
}

TEST_F(GoogleAuthTest, AuthenticateReportsEveryFailure) {
  struct Case {
    const char* name;
    std::string clipboard;
    std::string tokenEndpoint;  // empty: the emulator's
    std::string message;        // the start of the last message
  };
  const Case cases[] = {
      {"nothing pasted", "", "", "Code bulunamadı!"},
      {"unknown code", "http://localhost:8080/callback?code=4/0unknown", "",
       "Google Hata: invalid_grant\r\nMalformed auth code.\r\n\r\nTam Yanıt: {"},
      {"token endpoint down", "4/0abc", "http://127.0.0.1:1/token", "Hata: "},
  };
  for (const Case& c : cases) {
    TDeploymentSettings deployment = cloud.Deployment();
    if (!c.tokenEndpoint.empty()) deployment.GoogleTokenEndpoint = c.tokenEndpoint;
    TTestEnv caseEnv(deployment);
    TFakePrompts casePrompts;
    casePrompts.clipboard = c.clipboard;
    TGoogleAuth caseAuth(caseEnv.Env(), TDevCloudFixture::kClientID, TDevCloudFixture::kClientSecret, 8080, true,
                         &casePrompts);
    EXPECT_FALSE(caseAuth.Authenticate()) << c.name;
    ASSERT_FALSE(casePrompts.messages.empty()) << c.name;
    EXPECT_EQ(casePrompts.messages.back().rfind(c.message, 0), 0u) << c.name << ": " << casePrompts.messages.back();
    EXPECT_EQ(caseAuth.TokenData().AccessToken, "") << c.name;
  }
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "OAuth hata: invalid_grant"));
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Token HTTP istegi basarisiz"));
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Authenticate genel hata"));

  // Without interactive messages nothing is shown.
  TGoogleAuth quiet(env.Env(), "id", "secret", 8080, false, &prompts);
  prompts.messages.clear();
  EXPECT_FALSE(quiet.Authenticate());
  EXPECT_TRUE(prompts.messages.empty());
}

}  // namespace
}  // namespace calvora::test
