#include "../account/AccountCloud.h"

#include "account/uFirebaseActiveAccount.h"
#include "accountdrive/uFirebaseAccountAuth.h"
#include "foundation/TextFile.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

using devcloud::DatabaseJson;

class SignInTest : public test::AccountTest {
 protected:
  void SetUp() override {
    AddAccount("musteri1", DatabaseJson{{"LoginName", "ali"}, {"Email", "ali@firma.tr"}, {"Sifre", "Pa ss"},
                                         {"Musteri", "Ali Ltd"}});
    Directory().Write("GoogleDriveAccounts/g1", DatabaseJson{{"DisplayName", "Merkez"}, {"AccessToken", "at"},
                                                             {"RefreshToken", "rt"}, {"ExpiresAt", 45000.5}});
    Directory().Write("GoogleDriveAccountLinks/L1",
                      DatabaseJson{{"AccountLoginName", "ali"}, {"GoogleAccountID", "g1"}, {"IsDefault", true}});
  }
  std::string TokenCachePath() { return testEnv.Config().GetGoogleTokenCachePath(); }
};

TEST_F(SignInTest, CheckAcceptsLoginNameEmailOrKeyAndTheExactPassword) {
  struct Case {
    const char* login;
    const char* password;
    bool success;
    const char* loginName;
    const char* message;
  } cases[] = {
      {" ali ", "Pa ss", true, "ali", "Giris basarili."},
      {"ALI@firma.tr", "Pa ss", true, "ALI@firma.tr", "Giris basarili."},
      {"musteri1", "Pa ss", true, "musteri1", "Giris basarili."},
      {"ali", "pa ss", false, "ali", "Hatali sifre."},
      {"ali", " Pa ss", false, "ali", "Hatali sifre."},
      {"yok", "x", false, "yok", "Hesap bulunamadi: yok"},
      {"  ", "x", false, "", "Kullanici adi/e-posta zorunlu."},
  };
  for (const auto& c : cases) {
    TFirebaseManagedAccount account;
    TAccountAuthResult result;
    EXPECT_EQ(CheckAccountSignIn(Env(), c.login, c.password, account, result), c.success) << c.login;
    EXPECT_EQ(result.Success, c.success) << c.login;
    EXPECT_EQ(result.LoginName, c.loginName) << c.login;
    EXPECT_EQ(result.MessageText, c.message) << c.login;
    EXPECT_EQ(result.DisplayName, c.success ? "Ali Ltd" : "") << c.login;
    EXPECT_EQ(account.NodeName, c.success || std::string(c.message) == "Hatali sifre." ? "musteri1" : "") << c.login;
  }

  cloud.Cloud().ResetCounts();
  TFirebaseManagedAccount account;
  TAccountAuthResult result;
  EXPECT_FALSE(CheckAccountSignIn(Env(), "ali", "", account, result));
  EXPECT_EQ(result.MessageText, "Sifre zorunlu.");
  EXPECT_EQ(cloud.Cloud().RequestCount(), 0);
}

TEST_F(SignInTest, SignInSavesTheCredentialsAndPullsTheGoogleToken) {
  TAccountAuthResult result;
  ASSERT_TRUE(SignInAccount(Env(), " ali@firma.tr ", "Pa ss", result)) << result.MessageText;
  TAccountCredentials saved;
  ASSERT_TRUE(LoadSavedSignIn(Env(), saved));
  EXPECT_EQ(saved.LoginName, "ali@firma.tr");
  EXPECT_EQ(saved.Password, "Pa ss");
  EXPECT_EQ(saved.DisplayName, "Ali Ltd");
  ASSERT_TRUE(FileExists(TokenCachePath()));

  EXPECT_FALSE(SignInAccount(Env(), "ali", "wrong", result));
  Clock().AdvanceSeconds(60);
  ASSERT_TRUE(LoadSavedSignIn(Env(), saved));
  EXPECT_EQ(saved.LoginName, "ali@firma.tr");  // a failed sign-in keeps the saved one
}

TEST_F(SignInTest, AFailedTokenPullOnlyWarns) {
  Directory().Write("GoogleDriveAccountLinks", "bozuk");
  test::TLogCapture log;
  TAccountAuthResult result;
  EXPECT_TRUE(SignInAccount(Env(), "ali", "Pa ss", result));
  EXPECT_TRUE(log.Contains(TLogLevel::Warn,
                           "Google token yerel onbellege cekilemedi: Musteri Google baglanti listesi okunamadi."));
  EXPECT_TRUE(HasSavedSignIn(Env()));
  EXPECT_FALSE(FileExists(TokenCachePath()));
}

TEST_F(SignInTest, RefreshFollowsTheDirectory) {
  std::string message, login;
  EXPECT_EQ(RefreshSavedSignIn(Env(), message, login), TSavedSignInCheck::Rejected);
  EXPECT_EQ(message, kNoSavedSignInMessage);

  SaveSignIn(Env(), TAccountCredentials{"ali", "Pa ss", "eski ad"});
  Directory().Write("Lisanslar/musteri1/Musteri", "Ali Yeni Ltd");
  ASSERT_EQ(RefreshSavedSignIn(Env(), message, login), TSavedSignInCheck::Valid) << message;
  EXPECT_EQ(message, "Giris basarili.");
  EXPECT_EQ(login, "ali");
  TAccountCredentials saved;
  ASSERT_TRUE(LoadSavedSignIn(Env(), saved));
  EXPECT_EQ(saved.DisplayName, "Ali Yeni Ltd");
  EXPECT_TRUE(FileExists(TokenCachePath()));

  // A password changed in the directory shows once the list cache expires.
  Directory().Write("Lisanslar/musteri1/Sifre", "yeni");
  Clock().AdvanceSeconds(120);
  EXPECT_EQ(RefreshSavedSignIn(Env(), message, login), TSavedSignInCheck::Rejected);
  EXPECT_EQ(message, "Hatali sifre.");
  EXPECT_EQ(login, "ali");
}

}  // namespace
}  // namespace calvora
