#include "AccountCloud.h"

#include "account/uFirebaseAccountStore.h"
#include "account/uFirebaseServiceAuth.h"
#include "foundation/TextFile.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace calvora {
namespace {

using devcloud::DatabaseJson;

TJson Parse(const std::string& text) {
  TJson value;
  EXPECT_TRUE(TryParseJson(text, value)) << text;
  return value;
}

TEST(AccountKey, SanitisesLikeTheDatabaseRequires) {
  struct Case {
    const char* text;
    const char* key;
  } cases[] = {
      {"  ali.veli  ", "ali_veli"},
      {"ali veli.kaya", "ali_veli_kaya"},
      {"a#b$c.d/e[f]g\\h", "a_b_c_d_e_f_g_h"},
      {"tab\there", "tab_here"},
      {"nb\xC2\xA0sp", "nb_sp"},              // U+00A0
      {"ideo\xE3\x80\x80sp", "ideo_sp"},      // U+3000
      {"line\xE2\x80\xA8sep", "line_sep"},    // U+2028
      {"Şule.Öztürk", "Şule_Öztürk"},
      {"   ", "hesap"},
      {"", "hesap"},
  };
  for (const auto& c : cases) EXPECT_EQ(SanitizeAccountKey(c.text), c.key) << c.text;
}

TEST(AccountRecord, FirstPresentAliasWinsEvenWhenEmpty) {
  struct Case {
    const char* record;
    const char* loginName;
    const char* email;
    const char* displayName;
  } cases[] = {
      // "LoginName" present but empty: the node name, while Email stays filled.
      {R"({"LoginName":"","Email":"a@b.c"})", "node", "a@b.c", "node"},
      {R"({"KullaniciAdi":"ali","Eposta":"ali@x.tr","Unvan":"Ali AS"})", "ali", "ali@x.tr", "Ali AS"},
      {R"({"Email":"e@x.tr"})", "e@x.tr", "e@x.tr", "e@x.tr"},
      // Keys compared without quotes, trimmed, ignoring case; values unquoted.
      {R"({" \"loginname\" ":"\"veli\"","MUSTERI":" Veli Ltd "})", "veli", "veli", "Veli Ltd"},
      // Stored order decides between two spellings of one candidate.
      {R"({"email":"first@x","Email":"second@x"})", "first@x", "first@x", "first@x"},
      // The candidate order beats the stored order.
      {R"({"Musteri":"M","Name":"N","Unvan":"U"})", "node", "node", "M"},
      {R"({"Name":"N","Unvan":"U","Sifre":"p"})", "node", "node", "U"},
  };
  for (const auto& c : cases) {
    TFirebaseManagedAccount a = ParseManagedAccount("path/node", "node", Parse(c.record));
    EXPECT_EQ(a.LoginName, c.loginName) << c.record;
    EXPECT_EQ(a.Email, c.email) << c.record;
    EXPECT_EQ(a.DisplayName, c.displayName) << c.record;
    EXPECT_EQ(a.NodePath, "path/node");
  }
}

TEST(AccountRecord, ReadsQuotaTotpAndTheOtherFields) {
  struct Quota {
    const char* value;
    std::int64_t mb;
  } quotas[] = {{"2048", 2048},   {"\" 2048 \"", 2048}, {"-5", 0}, {"12.5", 0},
                {"\"12abc\"", 0}, {"null", 0},          {"2048.0", 0}};
  for (const auto& q : quotas)
    EXPECT_EQ(ParseManagedAccount("", "n", Parse(std::string(R"({"Sifre":"p","KotaMB":)") + q.value + "}"))
                  .StorageQuotaMB,
              q.mb)
        << q.value;
  EXPECT_EQ(ParseManagedAccount("", "n", Parse(R"({"StorageQuotaMB":10,"KotaMB":"20"})")).StorageQuotaMB, 20);

  struct Totp {
    const char* record;
    bool flag;
    bool enabled;
  } totps[] = {
      {R"({"TwoFactorSecret":"S"})", true, true},
      {R"({"TwoFactorSecret":"S","TwoFactorEnabled":false})", false, false},
      {R"({"TwoFactorSecret":"S","TwoFactorEnabled":"1"})", true, true},
      {R"({"TwoFactorSecret":" ","TwoFactorEnabled":true})", true, false},
      {R"({"TotpSecret":"T","GoogleAuthSecret":"G"})", true, true},
      {R"({})", false, false},
  };
  for (const auto& t : totps) {
    TFirebaseManagedAccount a = ParseManagedAccount("", "n", Parse(t.record));
    EXPECT_EQ(a.TotpEnabledFlag, t.flag) << t.record;
    EXPECT_EQ(a.TotpEnabled(), t.enabled) << t.record;
  }
  EXPECT_EQ(ParseManagedAccount("", "n", Parse(R"({"TotpSecret":"T","GoogleAuthSecret":"G"})")).TotpSecret, "G");

  TFirebaseManagedAccount a = ParseManagedAccount("", "n", Parse(R"({
      "Password":"pw","CreatedAt":"c","GuncellemeTarihi":"u","ServiceStatus":"s","ServisAktifCalismaSaati":"h",
      "ServisSonBildirim":"b","LastPlanExecutionAt":"l","OAuthClientID":"id","OAuthClientSecret":"sec",
      "YedeklemePolitikaId":"pol","BayiLoginName":"bayi","Parola":"ignored"})"));
  EXPECT_EQ(a.Password, "pw");
  EXPECT_EQ(a.CreatedAtText, "c");
  EXPECT_EQ(a.UpdatedAtText, "u");
  EXPECT_EQ(a.ServiceStatusText, "s");
  EXPECT_EQ(a.ServiceActiveHoursText, "h");
  EXPECT_EQ(a.ServiceLastHeartbeatText, "b");
  EXPECT_EQ(a.LastPlanExecutionText, "l");
  EXPECT_EQ(a.OAuthClientID, "id");
  EXPECT_EQ(a.OAuthClientSecret, "sec");
  EXPECT_EQ(a.BackupPolicyId, "pol");
  EXPECT_EQ(a.BayiLoginName, "bayi");
}

TEST(AccountRecord, WalksObjectsArraysAndNestedRecordsThenSorts) {
  TJson root = Parse(R"({
      "zeta": {"Email":"Zeta@x"},
      "grup": {"b": {"Sifre":"only-password"}, "a": {"LoginName":"alpha","Sub":{"KullaniciAdi":"ALPHA"}}},
      "liste": [{"Email":"beta@x"}, {"Email":"gamma@x"}, "text", 5],
      "bos": {"LoginName":"", "Email":""},
      "ayar": {"Tema":"koyu"}
  })");
  std::vector<TFirebaseManagedAccount> list;
  CollectManagedAccounts(root, "", "", list);
  SortManagedAccounts(list);
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto& a : list) got.emplace_back(a.LoginName, a.NodePath);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"alpha", "grup/a"}, {"ALPHA", "grup/a/Sub"}, {"b", "grup/b"},
      {"beta@x", "liste/0"}, {"gamma@x", "liste/1"}, {"Zeta@x", "zeta"}};
  EXPECT_EQ(got, expected);
  EXPECT_EQ(list[3].NodeName, "0");
  EXPECT_EQ(list[4].NodeName, "1");
}

class AccountDirectoryTest : public test::AccountTest {
 protected:
  void SeedTwoAccounts() {
    AddAccount("ali_veli", DatabaseJson{{"LoginName", "ali.veli"}, {"Email", "ali@firma.tr"}, {"Sifre", "pw1"},
                                         {"KotaMB", "100"}, {"YedeklemePolitikaId", "p1"}});
    AddAccount("musteri2", DatabaseJson{{"LoginName", "zeynep"}, {"Email", "zeynep@firma.tr"}, {"Sifre", "pw2"}});
  }
};

TEST_F(AccountDirectoryTest, ListIsCachedFor120SecondsAndEmptiedByAWrite) {
  SeedTwoAccounts();
  std::vector<TFirebaseManagedAccount> list;
  std::string error;
  ASSERT_TRUE(ListManagedAccounts(Env(), list, error)) << error;
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].LoginName, "ali.veli");
  EXPECT_EQ(list[0].NodePath, "ali_veli");
  EXPECT_EQ(list[0].StorageQuotaMB, 100);

  Clock().AdvanceSeconds(119);
  ASSERT_TRUE(ListManagedAccounts(Env(), list, error));
  EXPECT_EQ(cloud.Reads("Lisanslar"), 1);

  Clock().AdvanceSeconds(1);
  ASSERT_TRUE(ListManagedAccounts(Env(), list, error));
  EXPECT_EQ(cloud.Reads("Lisanslar"), 2);

  ASSERT_TRUE(WriteAccountFields(Env(), "zeynep", TJson{{"ServisDurumu", "Calisiyor"}}, error)) << error;
  EXPECT_EQ(cloud.Reads("Lisanslar"), 2);  // served from the cache
  ASSERT_TRUE(ListManagedAccounts(Env(), list, error));
  EXPECT_EQ(cloud.Reads("Lisanslar"), 3);
  EXPECT_EQ(list[1].ServiceStatusText, "Calisiyor");
}

TEST_F(AccountDirectoryTest, EmptyOrUnreadableDirectory) {
  std::vector<TFirebaseManagedAccount> list;
  std::string error;
  EXPECT_TRUE(ListManagedAccounts(Env(), list, error));
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(ListManagedAccounts(Env(), list, error));
  EXPECT_EQ(cloud.Reads("Lisanslar"), 2);  // an empty directory is not cached

  cloud.Cloud().InjectStatus("GET", "^/rtdb/Lisanslar", 1, 500);
  Directory().Write("Lisanslar/x", DatabaseJson{{"Email", "x@y"}});
  // An error answer is a failure with the server's message, never an empty list.
  EXPECT_FALSE(ListManagedAccounts(Env(), list, error));
  EXPECT_EQ(error, "Hesap listesi okunurken hata: Injected fault: backendError");
  EXPECT_TRUE(ListManagedAccounts(Env(), list, error));
  EXPECT_EQ(list.size(), 1u);

  Clock().AdvanceSeconds(121);
  cloud.Cloud().Stop();
  TFirebaseManagedAccount account;
  EXPECT_FALSE(ListManagedAccounts(Env(), list, error));
  EXPECT_EQ(error.rfind("Hesap listesi okunurken hata: ", 0), 0u) << error;
}

TEST_F(AccountDirectoryTest, FindsByDirectKeyLoginNameEmailOrNodeName) {
  SeedTwoAccounts();
  AddAccount("gruplar", DatabaseJson{{"bayi1", {{"Email", "derin@firma.tr"}, {"Sifre", "pw3"}}}});
  struct Case {
    const char* login;
    const char* nodeName;
  } cases[] = {
      {"ali.veli", "ali_veli"},          // direct key with the dot replaced
      {"  ALI@FIRMA.TR ", "ali_veli"},   // e-mail, trimmed, ignoring case
      {"zeynep", "musteri2"},            // login name differs from the key
      {"zeynep@firma.tr", "musteri2"},
      {"MUSTERI2", "musteri2"},          // node name
      {"derin@firma.tr", "bayi1"},       // nested record
  };
  for (const auto& c : cases) {
    TFirebaseManagedAccount account;
    std::string error;
    ASSERT_TRUE(FindManagedAccount(Env(), c.login, account, error)) << c.login << ": " << error;
    EXPECT_EQ(account.NodeName, c.nodeName) << c.login;
  }
  TFirebaseManagedAccount account;
  std::string error;
  EXPECT_FALSE(FindManagedAccount(Env(), "  ", account, error));
  EXPECT_EQ(error, "Kullanici adi bos.");
  EXPECT_FALSE(FindManagedAccount(Env(), "yok@firma.tr", account, error));
  EXPECT_EQ(error, "Hesap bulunamadi: yok@firma.tr");

  // A direct read has the full node path.
  ASSERT_TRUE(ReadAccountDirect(Env(), "ali.veli", account, error));
  EXPECT_EQ(account.NodePath, "Lisanslar/ali_veli");
  EXPECT_FALSE(ReadAccountDirect(Env(), "zeynep", account, error));
  EXPECT_TRUE(error.empty());
}

TEST_F(AccountDirectoryTest, WriteMergesIntoTheRecordFoundInTheList) {
  SeedTwoAccounts();
  AddAccount("grup", DatabaseJson{{"alt", {{"Email", "derin@firma.tr"}, {"Sifre", "pw3"}}}});
  std::string error;
  ASSERT_TRUE(WriteAccountFields(Env(), "derin@firma.tr", TJson{{"UpdatedAt", "2024-03-05 10:00:00"}}, error));
  EXPECT_EQ(Directory().Read("Lisanslar/grup/alt"),
            (DatabaseJson{{"Email", "derin@firma.tr"}, {"Sifre", "pw3"}, {"UpdatedAt", "2024-03-05 10:00:00"}}));

  struct Case {
    const char* login;
    const char* error;
  } failures[] = {{" ", "Servis hesabinin kullanici adi bulunamadi."},
                  {"yok", "Servis hesabi Firebase'de bulunamadi: yok"}};
  for (const auto& c : failures) {
    EXPECT_FALSE(WriteAccountFields(Env(), c.login, TJson{{"X", "1"}}, error));
    EXPECT_EQ(error, c.error);
  }
  EXPECT_TRUE(Directory().Read("Lisanslar/yok").is_null());

  // A revoked token is renewed once; a refused write is not reported as written.
  Directory().RevokeTokens();
  EXPECT_TRUE(WriteAccountFields(Env(), "zeynep", TJson{{"X", "2"}}, error)) << error;
  EXPECT_EQ(Directory().Read("Lisanslar/musteri2/X"), "2");
  devcloud::FaultRule refusal;
  refusal.method = "PATCH";
  refusal.status = 403;
  refusal.body = R"({"error":"Permission denied"})";
  cloud.Cloud().AddFault(refusal);
  EXPECT_FALSE(WriteAccountFields(Env(), "zeynep", TJson{{"X", "3"}}, error));
  EXPECT_EQ(error, "Servis bilgileri Firebase'e yazilamadi: Permission denied");
}

class ServiceTokenTest : public test::AccountTest {
 protected:
  bool Connect(TEnv& env, std::string& token) {
    std::unique_ptr<TFirebaseManager> manager;
    std::string error;
    const bool ok = TFirebaseServiceAuth::GetAuthenticatedManager(env, manager, error);
    EXPECT_EQ(ok, manager != nullptr);
    token = ok ? manager->Client().AuthToken() : error;
    return ok;
  }
  // Another program on the same data directory: its own memory cache.
  std::unique_ptr<TEnv> SecondProgram() {
    return std::make_unique<TEnv>(testEnv.Config(), cloud.Deployment(), Clock(), platform::SystemProcessRunner(),
                                  testEnv.ProgramDir(), testEnv.TempDir());
  }
};

TEST_F(ServiceTokenTest, ReusedFor55MinutesByBothProgramsThenRenewed) {
  std::string first, token;
  ASSERT_TRUE(Connect(Env(), first)) << first;
  EXPECT_EQ(Directory().SignInCount(), 1);

  const std::string path = TFirebaseServiceAuth::TokenCachePath(Env());
  const std::string onDisk = test::ReadFile(path);
  EXPECT_EQ(onDisk.find(first), std::string::npos);  // not in plain text
  TJson cache = Parse(onDisk);
  EXPECT_TRUE(cache["token"].is_string());
  EXPECT_TRUE(cache["expiry"].is_number());
  // Owner and group: the service and the desktop user share it; the
  // content opens only with the machine key.
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read | std::filesystem::perms::group_write);

  Clock().AdvanceSeconds(54 * 60 + 59);
  ASSERT_TRUE(Connect(Env(), token));
  EXPECT_EQ(token, first);
  auto second = SecondProgram();
  ASSERT_TRUE(Connect(*second, token));
  EXPECT_EQ(token, first);
  EXPECT_EQ(Directory().SignInCount(), 1);

  Clock().AdvanceSeconds(1);
  ASSERT_TRUE(Connect(*second, token));
  EXPECT_NE(token, first);
  EXPECT_EQ(Directory().SignInCount(), 2);
  EXPECT_NE(test::ReadFile(path), onDisk);  // rewritten with the new token
  // The first program picks the renewed token up from disk.
  std::string renewed;
  ASSERT_TRUE(Connect(Env(), renewed));
  EXPECT_EQ(renewed, token);
  EXPECT_EQ(Directory().SignInCount(), 2);
}

TEST_F(ServiceTokenTest, UnreadableDiskCacheMeansANewSignIn) {
  const std::string path = TFirebaseServiceAuth::TokenCachePath(Env());
  for (const char* content : {"", "{\"tok", "[]", R"({"token":"bm90IHNlYWxlZA==","expiry":99999})",
                              R"({"token":null,"expiry":null})"}) {
    test::WriteFile(path, content);
    std::string token;
    ASSERT_TRUE(Connect(*SecondProgram(), token)) << content;
  }
  EXPECT_EQ(Directory().SignInCount(), 5);

  TFirebaseServiceAuth::ClearCache(Env());
  EXPECT_FALSE(FileExists(path));
}

TEST_F(ServiceTokenTest, LifetimeAndFailures) {
  Directory().SetTokenLifetimeSeconds(900);  // reused for 10 minutes
  std::string first, token;
  ASSERT_TRUE(Connect(Env(), first));
  Clock().AdvanceSeconds(599);
  ASSERT_TRUE(Connect(Env(), token));
  EXPECT_EQ(Directory().SignInCount(), 1);
  Clock().AdvanceSeconds(1);
  ASSERT_TRUE(Connect(Env(), token));
  EXPECT_EQ(Directory().SignInCount(), 2);

  TFirebaseServiceAuth::ClearCache(Env());
  Directory().AddUser(test::TAccountCloud::kServiceEmail, "changed-password");
  EXPECT_FALSE(Connect(Env(), token));
  EXPECT_EQ(token, "Firebase baglantisi basarisiz: INVALID_PASSWORD");

  cloud.Cloud().Stop();
  test::TLogCapture log;
  EXPECT_FALSE(Connect(Env(), token));
  EXPECT_EQ(token.rfind("Firebase baglantisi kurulurken hata: ", 0), 0u) << token;
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Firebase servis girisi"));
}

}  // namespace
}  // namespace calvora
