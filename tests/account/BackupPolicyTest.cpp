#include "AccountCloud.h"

#include "account/uBackupPolicyStore.h"
#include "account/uFirebaseActiveAccount.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

using devcloud::DatabaseJson;

TEST(PolicyMask, SyntaxCaseAndMalformedMasks) {
  struct Case {
    const char* name;
    const char* mask;
    bool matches;
  } cases[] = {
      {"report.docx", "*.docx", true},
      {"REPORT.DOCX", "*.docx", true},
      {"report.docx", "*.DOCX", true},
      {"report.docx.bak", "*.docx", false},
      {".docx", "*.docx", true},
      {"~report.docx", "~*", true},
      {"a~report", "~*", false},
      {"a.tmp", "?.tmp", true},
      {"ab.tmp", "?.tmp", false},
      {"ş.tmp", "?.tmp", true},  // one character, two bytes
      {"ŞEKER.TXT", "şeker.txt", true},
      {"IRSALIYE.pdf", "ırsalıye.pdf", true},
      {"İade.xls", "iade.xls", true},
      {"b1.log", "[abc]1.log", true},
      {"d1.log", "[abc]1.log", false},
      {"D1.log", "[a-d]1.log", true},
      {"d1.log", "[!abc]1.log", true},
      {"a1.log", "[!abc]1.log", false},
      {"]x", "[]]x", true},
      {"file", "*", true},
      {"", "*", true},
      {"noext", "*.*", false},
      {"a\\b.txt", "a\\b.txt", true},  // no escape character
      {"[abc", "[abc", false},          // malformed: unterminated set
      {"a", "[a", false},
      {"x.txt", "*.[txt", false},
      {"x.txt", "[!]", false},
  };
  for (const auto& c : cases) EXPECT_EQ(MatchesPolicyMask(c.name, c.mask), c.matches) << c.name << " ~ " << c.mask;
}

TEST(PolicyMask, ExclusionWinsAndOnlyTheFileNameCounts) {
  const TBackupPolicy excludeOnly{"p", "p", "", {}, {"*.tmp", "~*"}};
  const TBackupPolicy docs{"p", "p", "", {"*.docx", "*.xlsx"}, {"~*"}};
  const TBackupPolicy brokenMasks{"p", "p", "", {"[docx"}, {"[tmp"}};
  struct Case {
    const TBackupPolicy* policy;
    const char* path;
    bool allowed;
  } cases[] = {
      {&excludeOnly, "/data/a.docx", true},  {&excludeOnly, "/data/a.TMP", false},
      {&excludeOnly, "/data/~lock.xlsx", false}, {&excludeOnly, "/data/~dir/a.txt", true},
      {&docs, "/srv/report.docx", true},     {&docs, "/srv/~report.docx", false},
      {&docs, "/srv/image.png", false},      {&docs, "/srv/x.docx/image.png", false},
      {&docs, "budget.XLSX", true},
      // A broken exclude mask excludes nothing, a broken include mask includes nothing.
      {&brokenMasks, "a.tmp", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsFileAllowedByPolicy(*c.policy, c.path), c.allowed) << c.path;
  EXPECT_TRUE(IsFileAllowedByPolicy(TBackupPolicy{"p", "p", "", {}, {"[tmp"}}, "a.tmp"));
}

TEST(PolicyKey, SanitisedButEmptyStaysEmpty) {
  EXPECT_EQ(SanitizePolicyKey(" ofis.standart "), "ofis_standart");
  EXPECT_EQ(SanitizePolicyKey("a b/c"), "a_b_c");
  EXPECT_EQ(SanitizePolicyKey("   "), "");
}

class BackupPolicyTest : public test::AccountTest {};

TEST_F(BackupPolicyTest, ReadsListsInEitherShapeAndCachesOnePolicy) {
  Directory().Write("YedeklemePolitikalari/ofis_standart",
                    DatabaseJson{{"Ad", "Ofis"},
                                 {"Aciklama", "Belgeler"},
                                 {"DahilListesi", {{"0", "*.docx"}, {"1", " "}, {"2", " *.xlsx "}}},
                                 {"HaricListesi", DatabaseJson::array({"~*", "", 42})}});
  Directory().Write("YedeklemePolitikalari/adsiz", DatabaseJson{{"DahilListesi", DatabaseJson::array({" "})},
                                                                {"HaricListesi", "*.tmp"}});
  TBackupPolicy policy;
  std::string error;
  ASSERT_TRUE(ReadBackupPolicy(Env(), "ofis.standart", policy, error)) << error;
  EXPECT_EQ(policy.PolicyId, "ofis_standart");
  EXPECT_EQ(policy.Name, "Ofis");
  EXPECT_EQ(policy.Description, "Belgeler");
  EXPECT_EQ(policy.IncludePatterns, (std::vector<std::string>{"*.docx", "*.xlsx"}));
  EXPECT_EQ(policy.ExcludePatterns, (std::vector<std::string>{"~*", "42"}));

  Clock().AdvanceSeconds(119);
  ASSERT_TRUE(ReadBackupPolicy(Env(), "OFIS.STANDART", policy, error));
  EXPECT_EQ(cloud.Reads("YedeklemePolitikalari"), 1);

  ASSERT_TRUE(ReadBackupPolicy(Env(), "adsiz", policy, error));
  EXPECT_EQ(policy.Name, "adsiz");
  EXPECT_TRUE(policy.IncludePatterns.empty());  // only blanks: all files
  EXPECT_TRUE(policy.ExcludePatterns.empty());  // not a list
  EXPECT_TRUE(IsFileAllowedByPolicy(policy, "a.tmp"));
  ASSERT_TRUE(ReadBackupPolicy(Env(), "ofis.standart", policy, error));  // the other key replaced it
  EXPECT_EQ(cloud.Reads("YedeklemePolitikalari"), 3);

  struct Case {
    const char* id;
    const char* error;
  } failures[] = {
      {"  ", "Politika kimligi bos."},
      {"yok.politika", "Yedekleme politikasi Firebase'de bulunamadi: yok.politika"},
  };
  for (const auto& c : failures) {
    EXPECT_FALSE(ReadBackupPolicy(Env(), c.id, policy, error));
    EXPECT_EQ(error, c.error);
  }
  Directory().Write("YedeklemePolitikalari/metin", "sadece metin");
  EXPECT_FALSE(ReadBackupPolicy(Env(), "metin", policy, error));
  EXPECT_EQ(error, "Yedekleme politikasi verisi okunamadi: metin");
}

TEST_F(BackupPolicyTest, ActivePolicyOfTheSignedInAccount) {
  AddAccount("a", DatabaseJson{{"LoginName", "filtresiz"}, {"Sifre", "pw"}});
  AddAccount("b", DatabaseJson{{"LoginName", "eksik"}, {"Sifre", "pw"}, {"YedeklemePolitikaId", "silindi"}});
  AddAccount("c", DatabaseJson{{"LoginName", "ofis"}, {"Sifre", "pw"}, {"YedeklemePolitikaId", "p1"}});
  Directory().Write("YedeklemePolitikalari/p1", DatabaseJson{{"HaricListesi", DatabaseJson::array({"*.tmp"})}});

  struct Case {
    const char* login;
    bool ok;
    bool hasPolicy;
    const char* error;
  } cases[] = {
      {"filtresiz", true, false, ""},
      {"eksik", false, true, "Yedekleme politikasi Firebase'de bulunamadi: silindi"},
      {"ofis", true, true, ""},
      {"", false, false, kNoSavedSignInMessage},
  };
  for (const auto& c : cases) {
    if (*c.login) {
      SignInAs(c.login);
    } else {
      ClearSavedSignIn(Env());
    }
    TBackupPolicy policy;
    bool hasPolicy = !c.hasPolicy;
    std::string error;
    EXPECT_EQ(GetActiveBackupPolicy(Env(), policy, hasPolicy, error), c.ok) << c.login;
    EXPECT_EQ(hasPolicy, c.hasPolicy) << c.login;
    EXPECT_EQ(error, c.error) << c.login;
  }
}

}  // namespace
}  // namespace calvora
