#include "AccountCloud.h"

#include "account/Firebase.Client.h"
#include "account/Firebase.Manager.h"
#include "platform/http_client.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

using devcloud::DatabaseJson;

TEST(DatabaseUrl, JoinsBasePathQueryAndToken) {
  struct Case {
    const char* base;
    const char* path;
    const char* token;
    const char* expected;
  } cases[] = {
      {"https://db.example/", "Lisanslar", "", "https://db.example/Lisanslar.json"},
      {"https://db.example", "Lisanslar", "", "https://db.example/Lisanslar.json"},
      {"https://db.example/", "/Lisanslar", "", "https://db.example/Lisanslar.json"},
      {"https://db.example", "/Lisanslar", "", "https://db.example/Lisanslar.json"},
      {"https://db.example/", "MailSettings/Admin", "T0k", "https://db.example/MailSettings/Admin.json?auth=T0k"},
      {"https://db.example/", "Lisanslar?shallow=true", "T0k",
       "https://db.example/Lisanslar.json?shallow=true&auth=T0k"},
      {"https://db.example/", "a?x=1?y=2", "", "https://db.example/a.json?x=1?y=2"},
      // The token is appended as it is.
      {"https://db.example/", "a", "x+y/z=", "https://db.example/a.json?auth=x+y/z="},
  };
  for (const auto& c : cases)
    EXPECT_EQ(BuildDatabaseUrl(c.base, c.path, c.token), c.expected) << c.base << " " << c.path;
}

class FirebaseClientTest : public test::AccountTest {
 protected:
  std::unique_ptr<TFirebaseManager> NewManager() {
    const auto d = cloud.Deployment();
    return std::make_unique<TFirebaseManager>(d.FirebaseApiKey, d.FirebaseDatabaseURL, "", d.FirebaseAuthBase);
  }
};

TEST_F(FirebaseClientTest, SignInFillsTheTokenFieldsOrOnlyTheServiceMessage) {
  auto manager = NewManager();
  TAuthResponse ok = manager->Auth().SignIn(test::TAccountCloud::kServiceEmail, test::TAccountCloud::kServicePassword);
  EXPECT_TRUE(ok.Success);
  EXPECT_FALSE(ok.IdToken.empty());
  EXPECT_FALSE(ok.RefreshToken.empty());
  EXPECT_EQ(ok.ExpiresIn, "3600");
  EXPECT_EQ(ok.Email, test::TAccountCloud::kServiceEmail);
  EXPECT_FALSE(ok.LocalId.empty());
  EXPECT_FALSE(ok.Registered);
  EXPECT_TRUE(ok.ErrorMessage.empty());

  struct Case {
    const char* email;
    const char* password;
    const char* message;
  } failures[] = {
      {test::TAccountCloud::kServiceEmail, "wrong", "INVALID_PASSWORD"},
      {"nobody@calvora.test", "x", "EMAIL_NOT_FOUND"},
      {test::TAccountCloud::kServiceEmail, "", "MISSING_PASSWORD"},
  };
  for (const auto& c : failures) {
    TAuthResponse r = manager->Auth().SignIn(c.email, c.password);
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(r.ErrorMessage, c.message);
    EXPECT_TRUE(r.IdToken.empty());
  }

  // A wrong API key is refused by the service, not by the client.
  TFirebaseManager wrongKey("AIzaSyWrongWrongWrongWrongWrongWrong0000", cloud.Deployment().FirebaseDatabaseURL, "",
                            cloud.Deployment().FirebaseAuthBase);
  TAuthResponse refused = wrongKey.Login(test::TAccountCloud::kServiceEmail, test::TAccountCloud::kServicePassword);
  EXPECT_FALSE(refused.Success);
  EXPECT_EQ(refused.ErrorMessage, "API key not valid. Please pass a valid API key.");
}

TEST_F(FirebaseClientTest, SignUpCreatesAUserThatCanSignIn) {
  auto manager = NewManager();
  TAuthResponse r = manager->Auth().SignUp("yeni@calvora.test", "secret-123");
  ASSERT_TRUE(r.Success);
  EXPECT_FALSE(r.IdToken.empty());
  EXPECT_TRUE(r.RefreshToken.empty());  // not read on sign-up
  EXPECT_TRUE(manager->Auth().SignIn("yeni@calvora.test", "secret-123").Success);
  EXPECT_EQ(manager->Auth().SignUp("yeni@calvora.test", "secret-123").ErrorMessage, "EMAIL_EXISTS");
}

TEST_F(FirebaseClientTest, LoginAuthorisesEveryRequestOfTheClient) {
  Directory().Write("Lisanslar/abc", DatabaseJson{{"Email", "a@b.c"}});

  auto failed = NewManager();
  EXPECT_FALSE(failed->Login(test::TAccountCloud::kServiceEmail, "wrong").Success);
  EXPECT_TRUE(failed->Client().AuthToken().empty());
  EXPECT_EQ(failed->Client().Get("Lisanslar/abc"), R"({"error":"Permission denied"})");

  auto manager = NewManager();
  TAuthResponse r = manager->Login(test::TAccountCloud::kServiceEmail, test::TAccountCloud::kServicePassword);
  ASSERT_TRUE(r.Success);
  EXPECT_EQ(manager->Client().AuthToken(), r.IdToken);
  TFirebaseClient& client = manager->Client();

  EXPECT_EQ(client.Get("Lisanslar/abc"), R"({"Email":"a@b.c"})");
  EXPECT_EQ(client.Get("/Lisanslar/missing"), "null");

  client.Put("Test/node", TJson{{"a", 1}, {"b", "x"}});
  client.Patch("Test/node", TJson{{"b", "y"}, {"c", "Şifre"}});
  EXPECT_EQ(Directory().Read("Test/node"), (DatabaseJson{{"a", 1}, {"b", "y"}, {"c", "Şifre"}}));

  TJson pushed;
  ASSERT_TRUE(TryParseJson(client.Post("Test/list", TJson{{"v", 1}}), pushed));
  const std::string key = JsonMemberText(pushed, "name");
  ASSERT_FALSE(key.empty());
  EXPECT_EQ(Directory().Read("Test/list/" + key), (DatabaseJson{{"v", 1}}));

  EXPECT_EQ(client.Delete("Test/node"), "null");
  EXPECT_TRUE(Directory().Read("Test/node").is_null());
  // A query stays after ".json" and the token follows it.
  EXPECT_EQ(client.Get("Lisanslar/abc?print=pretty"), R"({"Email":"a@b.c"})");
}

TEST_F(FirebaseClientTest, TransportFailuresRaise) {
  auto manager = NewManager();
  cloud.Cloud().Stop();
  EXPECT_THROW(manager->Client().Get("Lisanslar"), platform::HttpTransportError);
  EXPECT_THROW(manager->Login("a@b.c", "x"), platform::HttpTransportError);
}

}  // namespace
}  // namespace calvora
