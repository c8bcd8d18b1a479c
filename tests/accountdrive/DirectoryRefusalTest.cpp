// The account directory refusing the service (token revoked, rules changed,
// an error status): every reader fails with the server's message or renews
// the token once; none reads a refusal as a record or as "not found", and
// none removes local state.
#include "../account/AccountCloud.h"

#include "account/uBackupPolicyStore.h"
#include "account/uFirebaseActiveAccount.h"
#include "account/uFirebaseServiceAuth.h"
#include "account/uFirebaseServiceStatus.h"
#include "account/uMailSettingsStore.h"
#include "accountdrive/uFirebaseAccountAuth.h"
#include "accountdrive/uFirebaseGoogleTokenStore.h"
#include "accountdrive/uGoogleTokenSync.h"
#include "foundation/AppError.h"
#include "foundation/TextFile.h"

#include <gtest/gtest.h>

#include <functional>

namespace calvora {
namespace {

using devcloud::DatabaseJson;

struct Reader {
  const char* name;
  std::function<bool(TEnv&, std::string&)> read;
};

std::vector<Reader> Readers() {
  return {
      {"ListManagedAccounts",
       [](TEnv& env, std::string& e) {
         std::vector<TFirebaseManagedAccount> list;
         return ListManagedAccounts(env, list, e) && !list.empty();
       }},
      {"FindManagedAccount",
       [](TEnv& env, std::string& e) {
         TFirebaseManagedAccount a;
         return FindManagedAccount(env, "ali", a, e) && a.StorageQuotaMB == 2048;
       }},
      {"GetActiveAccount",
       [](TEnv& env, std::string& e) {
         TFirebaseManagedAccount a;
         return GetActiveAccount(env, a, e) && a.DisplayName == "Ali Ltd";
       }},
      {"WriteAccountFields",
       [](TEnv& env, std::string& e) { return WriteAccountFields(env, "ali", DatabaseJson{{"Not", "x"}}, e); }},
      {"GetActiveBackupPolicy",
       [](TEnv& env, std::string& e) {
         TBackupPolicy p;
         bool has = false;
         return GetActiveBackupPolicy(env, p, has, e) && has && p.ExcludePatterns.size() == 1;
       }},
      {"ListAuthorizedAccounts",
       [](TEnv& env, std::string& e) {
         std::vector<TGoogleDriveAuthorizedAccount> pool;
         return ListAuthorizedAccounts(env, pool, e) && pool.size() == 1;
       }},
      {"ListAccountLinks",
       [](TEnv& env, std::string& e) {
         std::vector<TGoogleDriveAccountLink> links;
         return ListAccountLinks(env, "ali", links, e) && links.size() == 1;
       }},
      {"LoadAuthorizedAccountToken",
       [](TEnv& env, std::string& e) {
         TGoogleDriveAuthorizedAccount a;
         TTokenData t;
         return LoadAuthorizedAccountToken(env, "g1", a, t, e) && t.RefreshToken == "rt";
       }},
      {"SyncCentralGoogleToken", [](TEnv& env, std::string& e) { return SyncCentralGoogleToken(env, e); }},
      {"ReportServiceHeartbeat",
       [](TEnv& env, std::string& e) { return ReportServiceHeartbeat(env, "Calisiyor", e, env.Now(), env.Now()); }},
  };
}

class DirectoryRefusalTest : public test::AccountTest {
 protected:
  void SetUp() override {
    AddAccount("musteri1", DatabaseJson{{"LoginName", "ali"}, {"Sifre", "pw"}, {"Musteri", "Ali Ltd"},
                                         {"KotaMB", "2048"}, {"YedeklemePolitikaId", "p1"}});
    Directory().Write("YedeklemePolitikalari/p1", DatabaseJson{{"Ad", "Ofis"}, {"HaricListesi", {"*.tmp"}}});
    Directory().Write("GoogleDriveAccounts/g1", DatabaseJson{{"DisplayName", "Merkez"}, {"AccessToken", "at"},
                                                             {"RefreshToken", "rt"}, {"ExpiresAt", 45000.5}});
    Directory().Write("GoogleDriveAccountLinks/L1",
                      DatabaseJson{{"AccountLoginName", "ali"}, {"GoogleAccountID", "g1"}, {"IsDefault", true}});
    SignInAs("ali", "pw");
    std::string error;
    ASSERT_TRUE(SyncCentralGoogleToken(Env(), error)) << error;
    tokenCache = ReadTextFile(Env().Config().GetGoogleTokenCachePath());
  }
  // Past every 120 s cache of the directory, well inside the token's life.
  void ColdCaches() { Clock().AdvanceSeconds(121); }
  void RefuseEveryRead(int status, const std::string& message) {
    devcloud::FaultRule rule;
    rule.pathPattern = "^/rtdb/";
    rule.status = status;
    rule.remaining = 1000;
    rule.body = DatabaseJson{{"error", message}}.dump();
    cloud.Cloud().AddFault(rule);
  }
  void ExpectLocalStateKept() {
    EXPECT_EQ(ReadTextFile(Env().Config().GetGoogleTokenCachePath()), tokenCache);
    EXPECT_TRUE(HasSavedSignIn(Env()));
  }

  std::string tokenCache;
};

TEST_F(DirectoryRefusalTest, ARevokedServiceTokenIsRenewedOnceAndTheReadGoesOn) {
  for (const Reader& reader : Readers()) {
    ColdCaches();
    Directory().RevokeTokens();
    const int signIns = Directory().SignInCount();
    std::string error;
    EXPECT_TRUE(reader.read(Env(), error)) << reader.name << ": " << error;
    EXPECT_EQ(Directory().SignInCount(), signIns + 1) << reader.name;
  }
  EXPECT_TRUE(FileExists(Env().Config().GetGoogleTokenCachePath()));
  EXPECT_TRUE(HasSavedSignIn(Env()));
}

TEST_F(DirectoryRefusalTest, ARefusalIsAFailureWithTheServerMessageNeverDataOrNotFound) {
  struct Refusal {
    int status;
    const char* message;
  } refusals[] = {{403, "Permission denied"}, {401, "Auth token is expired"}, {500, "Internal error"}};
  for (const Refusal& refusal : refusals) {
    cloud.Cloud().ClearFaults();
    RefuseEveryRead(refusal.status, refusal.message);
    for (const Reader& reader : Readers()) {
      ColdCaches();
      std::string error;
      EXPECT_FALSE(reader.read(Env(), error)) << reader.name << " " << refusal.status;
      EXPECT_NE(error.find(refusal.message), std::string::npos) << reader.name << ": " << error;
      EXPECT_EQ(error.find("bulunamadi"), std::string::npos) << reader.name << ": " << error;
    }
  }
  cloud.Cloud().ClearFaults();
  ExpectLocalStateKept();
  EXPECT_EQ(Directory().Read("Lisanslar/musteri1/KotaMB"), "2048");
}

TEST_F(DirectoryRefusalTest, AStillRefusedTokenIsNotKeptForItsComputedLife) {
  ColdCaches();
  RefuseEveryRead(401, "Auth token is expired");
  std::string error;
  std::vector<TFirebaseManagedAccount> list;
  EXPECT_FALSE(ListManagedAccounts(Env(), list, error));
  cloud.Cloud().ClearFaults();
  const int signIns = Directory().SignInCount();
  EXPECT_TRUE(ListManagedAccounts(Env(), list, error)) << error;
  EXPECT_EQ(Directory().SignInCount(), signIns + 1);
}

TEST_F(DirectoryRefusalTest, ARefusedSignInCheckIsUnreachableAndKeepsTheSavedSignIn) {
  RefuseEveryRead(403, "Permission denied");
  TFirebaseManagedAccount account;
  TAccountAuthResult result;
  EXPECT_FALSE(CheckAccountSignIn(Env(), "ali", "pw", account, result));
  EXPECT_EQ(result.MessageText, "Hesap dogrudan okunurken hata: Permission denied");
  EXPECT_FALSE(result.Rejected);

  std::string message, login;
  ColdCaches();
  EXPECT_EQ(RefreshSavedSignIn(Env(), message, login), TSavedSignInCheck::Unreachable);
  ExpectLocalStateKept();

  // No answer at all is not a rejection either.
  cloud.Cloud().Stop();
  ColdCaches();
  EXPECT_EQ(RefreshSavedSignIn(Env(), message, login), TSavedSignInCheck::Unreachable) << message;
  ExpectLocalStateKept();
}

TEST_F(DirectoryRefusalTest, RefusedMailSettingsAreAnErrorNotAMissingDefinition) {
  Directory().Write("MailSettings/Admin", DatabaseJson{{"Enabled", true}, {"Host", "smtp.admin"}, {"FromAddress", "a@b"}});
  RefuseEveryRead(403, "Permission denied");
  TRemoteMailSettings settings;
  EXPECT_THROW(ReadMailSettingsNode(Env(), "MailSettings/Admin", settings), EAppError);
}

TEST_F(DirectoryRefusalTest, KeysWithUrlCharactersReadOnlyTheirOwnNode) {
  AddAccount("ali%2Fx", DatabaseJson{{"Sifre", "pw2"}});
  // "%2F" taken as "/" would read this nested record.
  AddAccount("ali", DatabaseJson{{"Sifre", "pw"}, {"x", DatabaseJson{{"Sifre", "pw"}}}});
  struct Case {
    const char* login;
    const char* password;
    bool success;
  } cases[] = {
      {"ali?x", "pw", false}, {"ali%2Fx", "pw", false}, {"ali%2Fx", "pw2", true},
      {"ali#x", "pw", false}, {"ali&x", "pw", false},  {"ali", "pw", true},
  };
  for (const Case& c : cases) {
    ColdCaches();
    TFirebaseManagedAccount account;
    TAccountAuthResult result;
    EXPECT_EQ(CheckAccountSignIn(Env(), c.login, c.password, account, result), c.success)
        << c.login << ": " << result.MessageText;
  }
}

}  // namespace
}  // namespace calvora
