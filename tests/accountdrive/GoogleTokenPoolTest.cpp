#include "../account/AccountCloud.h"

#include "account/uFirebaseActiveAccount.h"
#include "accountdrive/uFirebaseGoogleTokenStore.h"
#include "accountdrive/uGoogleTokenSync.h"
#include "foundation/TextFile.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

using devcloud::DatabaseJson;

TEST(DatabaseKey, SanitisedWithItsOwnFallback) {
  EXPECT_EQ(SanitizeDatabaseKey(" ali.veli@gmail.com "), "ali_veli@gmail_com");
  EXPECT_EQ(SanitizeDatabaseKey("a b\tc#d$e[f]g/h\\i"), "a_b_c_d_e_f_g_h_i");
  EXPECT_EQ(SanitizeDatabaseKey("  "), "kayit");
}

TEST(JsonDateTime, NumbersTextsAndGarbage) {
  const TJson record = TJson::parse(R"({"n":45000.5,"i":45000,"t":"2024-03-05 10:30:00","d":" 45000.25 ",
                                       "bad":"yarin","b":true,"z":null})");
  struct Case {
    const char* member;
    TDateTime expected;
  } cases[] = {
      {"n", EncodeDateTime(2023, 3, 15, 12, 0, 0)},
      {"i", EncodeDateTime(2023, 3, 15)},
      {"t", EncodeDateTime(2024, 3, 5, 10, 30, 0)},
      {"d", EncodeDateTime(2023, 3, 15, 6, 0, 0)},
      {"bad", 0},
      {"b", 0},
      {"z", 0},
      {"absent", 0},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(ReadJsonDateTime(record, c.member), c.expected) << c.member;
}

class GoogleTokenPoolTest : public test::AccountTest {
 protected:
  void SeedPool() {
    Directory().Write("GoogleDriveAccounts",
                      DatabaseJson{{"zeta_gmail_com",
                                    {{"DisplayName", "Zeta Drive"}, {"GoogleDriveEmail", "zeta@gmail.com"},
                                     {"AccessToken", "zeta-access"}, {"RefreshToken", "zeta-refresh"},
                                     {"ExpiresAt", 45000.5}, {"UpdatedAt", "z-upd"}}},
                                   {"alfa_gmail_com",
                                    {{"GoogleDriveEmail", "alfa@gmail.com"}, {"RefreshToken", "alfa-refresh"},
                                     {"ExpiresAt", "2024-03-05 10:30:00"}, {"UpdatedAt", "a-upd"}}},
                                   {"bos", {{"DisplayName", "Bos Hesap"}, {"AccessToken", " "}}},
                                   {"metin", "not an object"}});
    AddAccount("musteri1", DatabaseJson{{"LoginName", "ali"}, {"Email", "ali@firma.tr"}, {"Sifre", "pw"}});
    AddAccount("musteri2", DatabaseJson{{"LoginName", "veli"}, {"Sifre", "pw"}});
  }
  void Link(const std::string& id, const std::string& login, const std::string& pool, const DatabaseJson& isDefault) {
    DatabaseJson link{{"AccountLoginName", login}, {"GoogleAccountID", pool}, {"LinkedAt", "l-" + id},
                      {"UpdatedAt", "link-upd"}};
    if (!isDefault.is_null()) link["IsDefault"] = isDefault;
    Directory().Write("GoogleDriveAccountLinks/" + id, link);
  }
  std::vector<std::string> LinkIds(const std::string& login) {
    std::vector<TGoogleDriveAccountLink> links;
    std::string error;
    EXPECT_TRUE(ListAccountLinks(Env(), login, links, error)) << error;
    std::vector<std::string> ids;
    for (const auto& l : links) ids.push_back(l.LinkID);
    return ids;
  }
};

TEST_F(GoogleTokenPoolTest, PoolIsSortedAndCachedWhileNotEmpty) {
  std::vector<TGoogleDriveAuthorizedAccount> pool;
  std::string error;
  ASSERT_TRUE(ListAuthorizedAccounts(Env(), pool, error));
  ASSERT_TRUE(ListAuthorizedAccounts(Env(), pool, error));
  EXPECT_TRUE(pool.empty());
  EXPECT_EQ(cloud.Reads("GoogleDriveAccounts"), 2);  // an empty pool is read again

  SeedPool();
  ASSERT_TRUE(ListAuthorizedAccounts(Env(), pool, error)) << error;
  ASSERT_EQ(pool.size(), 3u);
  EXPECT_EQ(pool[0].DisplayName, "alfa@gmail.com");
  EXPECT_TRUE(pool[0].HasToken);
  EXPECT_EQ(pool[1].GoogleAccountID, "bos");
  EXPECT_FALSE(pool[1].HasToken);
  EXPECT_EQ(pool[2].DisplayName, "Zeta Drive");
  EXPECT_EQ(pool[2].UpdatedAtText, "z-upd");

  Clock().AdvanceSeconds(119);
  ASSERT_TRUE(ListAuthorizedAccounts(Env(), pool, error));
  EXPECT_EQ(cloud.Reads("GoogleDriveAccounts"), 3);
  Clock().AdvanceSeconds(1);
  ASSERT_TRUE(ListAuthorizedAccounts(Env(), pool, error));
  EXPECT_EQ(cloud.Reads("GoogleDriveAccounts"), 4);

  Directory().Write("GoogleDriveAccounts", "bozuk");
  Clock().AdvanceSeconds(120);
  EXPECT_FALSE(ListAuthorizedAccounts(Env(), pool, error));
  EXPECT_EQ(error, "Google Drive hesap havuzu okunamadi.");
}

TEST_F(GoogleTokenPoolTest, TokenOfOnePoolAccountIsReadFresh) {
  SeedPool();
  TGoogleDriveAuthorizedAccount account;
  TTokenData token;
  std::string error;
  ASSERT_TRUE(LoadAuthorizedAccountToken(Env(), "zeta.gmail.com", account, token, error)) << error;
  EXPECT_EQ(account.GoogleAccountID, "zeta.gmail.com");
  EXPECT_EQ(account.DisplayName, "Zeta Drive");
  EXPECT_EQ(token.AccessToken, "zeta-access");
  EXPECT_EQ(token.RefreshToken, "zeta-refresh");
  EXPECT_DOUBLE_EQ(token.ExpiresAt, EncodeDateTime(2023, 3, 15, 12, 0, 0));
  ASSERT_TRUE(LoadAuthorizedAccountToken(Env(), "zeta.gmail.com", account, token, error));
  EXPECT_EQ(cloud.Reads("GoogleDriveAccounts/zeta_gmail_com"), 2);

  struct Case {
    const char* id;
    const char* error;
  } failures[] = {{" ", "Google Drive hesap kimligi bos."},
                  {"yok", "Google Drive hesabi bulunamadi."},
                  {"metin", "Google Drive hesabi okunamadi."}};
  for (const auto& c : failures) {
    EXPECT_FALSE(LoadAuthorizedAccountToken(Env(), c.id, account, token, error));
    EXPECT_EQ(error, c.error);
  }
}

TEST_F(GoogleTokenPoolTest, LinksOfTheCustomerByAnyOfItsNamesDefaultsFirst) {
  SeedPool();
  Link("L1", "ali", "alfa_gmail_com", false);
  Link("L2", "ALI@FIRMA.TR", "zeta_gmail_com", " Evet ");
  Link("L3", "musteri1", "bos", DatabaseJson());
  Link("L4", "veli", "alfa_gmail_com", true);
  Link("L5", "ali", "silinmis", "hayir");
  EXPECT_EQ(LinkIds("ali@firma.tr"), (std::vector<std::string>{"L2", "L5", "L1", "L3"}));
  EXPECT_EQ(LinkIds("musteri1"), (std::vector<std::string>{"L2", "L5", "L1", "L3"}));
  EXPECT_EQ(LinkIds("veli"), (std::vector<std::string>{"L4"}));
  EXPECT_EQ(LinkIds("bilinmeyen"), (std::vector<std::string>{}));
  EXPECT_EQ(cloud.Reads("GoogleDriveAccountLinks"), 1);

  std::vector<TGoogleDriveAccountLink> links;
  std::string error;
  ASSERT_TRUE(ListAccountLinks(Env(), "ali", links, error));
  EXPECT_EQ(links[0].GoogleDisplayName, "Zeta Drive");
  EXPECT_EQ(links[0].GoogleDriveEmail, "zeta@gmail.com");
  EXPECT_EQ(links[0].UpdatedAtText, "z-upd");
  EXPECT_EQ(links[1].GoogleDisplayName, "");  // pool account gone
  EXPECT_EQ(links[1].UpdatedAtText, "link-upd");
  EXPECT_EQ(links[1].LinkedAtText, "l-L5");
  EXPECT_FALSE(ListAccountLinks(Env(), " ", links, error));
  EXPECT_EQ(error, "Musteri hesap baglanti listesi icin kullanici adi bos.");

  TTokenData token;
  TGoogleDriveAccountLink link;
  ASSERT_TRUE(GetDefaultAccountLinkToken(Env(), "ali", token, link, error)) << error;
  EXPECT_EQ(link.LinkID, "L2");
  EXPECT_EQ(token.AccessToken, "zeta-access");

  // Without a default: the link whose pool account's name sorts first (a
  // link to a vanished pool account sorts before all others and fails).
  Link("L2", "ali", "zeta_gmail_com", false);
  Clock().AdvanceSeconds(120);
  EXPECT_FALSE(GetDefaultAccountLinkToken(Env(), "ali", token, link, error));
  EXPECT_EQ(error, "Google Drive hesabi bulunamadi.");
  Directory().Remove("GoogleDriveAccountLinks/L5");
  Clock().AdvanceSeconds(120);
  ASSERT_TRUE(GetDefaultAccountLinkToken(Env(), "ali", token, link, error)) << error;
  EXPECT_EQ(link.LinkID, "L1");
  EXPECT_EQ(link.GoogleDisplayName, "alfa@gmail.com");
  EXPECT_EQ(token.AccessToken, "");
  EXPECT_EQ(token.RefreshToken, "alfa-refresh");
  EXPECT_DOUBLE_EQ(token.ExpiresAt, EncodeDateTime(2024, 3, 5, 10, 30, 0));
}

TEST_F(GoogleTokenPoolTest, EmptyLinkListIsCachedToo) {
  SeedPool();
  std::vector<TGoogleDriveAccountLink> links;
  TTokenData token;
  TGoogleDriveAccountLink link;
  std::string error;
  ASSERT_TRUE(GetDefaultAccountLinkToken(Env(), "ali", token, link, error));
  EXPECT_TRUE(token.AccessToken.empty());
  EXPECT_TRUE(link.LinkID.empty());
  ASSERT_TRUE(ListAccountLinks(Env(), "ali", links, error));
  EXPECT_EQ(cloud.Reads("GoogleDriveAccountLinks"), 1);
}

class GoogleTokenSyncTest : public GoogleTokenPoolTest {
 protected:
  std::string CachePath() { return testEnv.Config().GetGoogleTokenCachePath(); }
};

TEST_F(GoogleTokenSyncTest, WritesTheDefaultTokenOrRemovesTheCache) {
  std::string error;
  EXPECT_FALSE(SyncCentralGoogleToken(Env(), error));
  EXPECT_EQ(error, kNoSavedSignInMessage);

  SeedPool();
  Link("L1", "ali@firma.tr", "zeta_gmail_com", true);
  SignInAs("ali@firma.tr");
  test::TLogCapture log;
  ASSERT_TRUE(SyncCentralGoogleToken(Env(), error)) << error;
  EXPECT_TRUE(log.Contains(TLogLevel::Info, "Merkezi Google token yerel onbellege yazildi: ali -> " + CachePath()));
  TGoogleAuth reader(Env(), "id", "secret", 8080, false);
  reader.LoadTokens(CachePath());
  EXPECT_EQ(reader.TokenData().AccessToken, "zeta-access");
  EXPECT_EQ(reader.TokenData().RefreshToken, "zeta-refresh");
  EXPECT_NEAR(reader.TokenData().ExpiresAt, EncodeDateTime(2023, 3, 15, 12, 0, 0), 1.0 / 86400);

  // The pool account loses its tokens: the local cache goes too.
  Directory().Write("GoogleDriveAccounts/zeta_gmail_com/AccessToken", nullptr);
  Directory().Write("GoogleDriveAccounts/zeta_gmail_com/RefreshToken", nullptr);
  ASSERT_TRUE(SyncCentralGoogleToken(Env(), error)) << error;
  EXPECT_FALSE(FileExists(CachePath()));
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Aktif hesap icin varsayilan merkezi Google token bulunamadi: ali"));

  Directory().Write("GoogleDriveAccountLinks", "bozuk");
  Clock().AdvanceSeconds(120);
  EXPECT_FALSE(SyncCentralGoogleToken(Env(), error));
  EXPECT_EQ(error, "Musteri Google baglanti listesi okunamadi.");
}

}  // namespace
}  // namespace calvora
