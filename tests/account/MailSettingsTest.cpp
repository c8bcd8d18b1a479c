#include "AccountCloud.h"

#include "account/uFirebaseActiveAccount.h"
#include "account/uMailSettingsStore.h"
#include "foundation/AppError.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

using devcloud::DatabaseJson;

DatabaseJson Definition(const std::string& host) {
  return DatabaseJson{{"Enabled", true},        {"Host", " " + host + " "}, {"Port", 465},
                      {"UseSsl", true},         {"UserName", " user "},     {"Password", " p w "},
                      {"FromAddress", " from@" + host + " "}, {"FromName", " Bayi Ltd "},
                      {"DefaultToAddresses", "a@x.tr; b@x.tr"}, {"PopBeforeSmtp", false},
                      {"Pop3Host", "pop." + host},              {"Pop3Port", 995}};
}

class MailSettingsTest : public test::AccountTest {
 protected:
  void SetUp() override {
    AddAccount("m1", DatabaseJson{{"LoginName", "ali"}, {"Sifre", "pw"}, {"BayiLoginName", " bayi.ankara "}});
    SignInAs("ali");
  }
};

TEST_F(MailSettingsTest, ResellerDefinitionReplacesEveryField) {
  Directory().Write("MailSettings/Bayiler/bayi_ankara", Definition("smtp.bayi.tr"));
  Directory().Write("MailSettings/Admin", Definition("smtp.admin.tr"));
  test::TLogCapture log;
  TSMTPReportConfig config = GetReportMailConfig(Env());
  EXPECT_TRUE(config.Enabled);
  EXPECT_EQ(config.Host, "smtp.bayi.tr");
  EXPECT_EQ(config.Port, 465);
  EXPECT_TRUE(config.UseSSL);
  EXPECT_EQ(config.UserName, "user");
  EXPECT_EQ(config.Password, " p w ");
  EXPECT_EQ(config.FromAddress, "from@smtp.bayi.tr");
  EXPECT_EQ(config.FromName, "Bayi Ltd");
  EXPECT_EQ(config.ToAddresses, "a@x.tr; b@x.tr");
  EXPECT_FALSE(config.PopBeforeSmtp);
  EXPECT_EQ(config.Pop3Host, "pop.smtp.bayi.tr");
  EXPECT_EQ(config.Pop3Port, 995);
  EXPECT_TRUE(log.Contains(TLogLevel::Info,
                           "Mail gonderimi ozel SMTP tanimiyla yapilacak (bayi:bayi.ankara: smtp.bayi.tr)."));
  EXPECT_TRUE(IsReportMailConfigured(Env()));
}

TEST_F(MailSettingsTest, UnusableResellerFallsThroughToAdminWithDefaults) {
  DatabaseJson disabled = Definition("smtp.bayi.tr");
  disabled["Enabled"] = false;
  Directory().Write("MailSettings/Bayiler/bayi_ankara", disabled);
  Directory().Write("MailSettings/Admin", DatabaseJson{{"Enabled", true},
                                                       {"Host", "smtp.admin.tr"},
                                                       {"FromAddress", "admin@x.tr"},
                                                       {"PopBeforeSmtp", true}});
  TRemoteMailSettings settings;
  std::string source;
  ASSERT_TRUE(ResolveRemoteMailSettings(Env(), settings, source));
  EXPECT_EQ(source, "admin");
  EXPECT_EQ(settings.Port, 587);
  EXPECT_EQ(settings.Pop3Port, 110);

  TSMTPReportConfig config = GetReportMailConfig(Env());
  EXPECT_EQ(config.Host, "smtp.admin.tr");
  EXPECT_EQ(config.FromName, kDefaultMailFromName);
  EXPECT_EQ(config.ToAddresses, "admin@x.tr");
  EXPECT_TRUE(config.PopBeforeSmtp);
  EXPECT_EQ(config.Pop3Host, "");
  // Found and used, but POP before SMTP without a POP3 host cannot send.
  EXPECT_FALSE(IsReportMailConfigured(Env()));
}

TEST_F(MailSettingsTest, BuiltInServerWhenNothingIsDefinedAndOutcomesAreCached) {
  TSMTPReportConfig config = GetReportMailConfig(Env());
  const TDeploymentSettings d = cloud.Deployment();
  EXPECT_TRUE(config.Enabled);
  EXPECT_EQ(config.Host, d.SmtpHost);
  EXPECT_EQ(config.Port, d.SmtpPort);
  EXPECT_FALSE(config.UseSSL);
  EXPECT_EQ(config.UserName, d.SmtpSender);
  EXPECT_EQ(config.Password, d.SmtpPassword);
  EXPECT_EQ(config.FromAddress, d.SmtpSender);
  EXPECT_EQ(config.FromName, "Brimora");
  EXPECT_EQ(config.ToAddresses, d.SmtpSender);
  EXPECT_TRUE(config.PopBeforeSmtp);
  EXPECT_EQ(config.Pop3Host, d.SmtpHost);
  EXPECT_EQ(config.Pop3Port, 110);
  EXPECT_TRUE(IsReportMailConfigured(Env()));
  const std::int64_t reads = cloud.Reads("MailSettings");
  EXPECT_EQ(reads, 2);  // reseller and admin

  // A definition added now takes effect once the negative outcome expires.
  Directory().Write("MailSettings/Admin", Definition("smtp.admin.tr"));
  Clock().AdvanceSeconds(119);
  EXPECT_EQ(GetReportMailConfig(Env()).Host, d.SmtpHost);
  EXPECT_EQ(cloud.Reads("MailSettings"), reads);
  Clock().AdvanceSeconds(1);
  EXPECT_EQ(GetReportMailConfig(Env()).Host, "smtp.admin.tr");
}

TEST_F(MailSettingsTest, UnconvertibleMemberFailsTheReadAndIsLoggedOncePer120Seconds) {
  DatabaseJson broken = Definition("smtp.bayi.tr");
  broken["Port"] = "yirmi bes";
  Directory().Write("MailSettings/Bayiler/bayi_ankara", broken);
  Directory().Write("MailSettings/Admin", Definition("smtp.admin.tr"));
  TRemoteMailSettings settings;
  EXPECT_THROW(ReadMailSettingsNode(Env(), "MailSettings/Bayiler/bayi_ankara", settings), EAppError);

  // A port given as digits in text is still a number.
  DatabaseJson digits = Definition("smtp.admin.tr");
  digits["Port"] = "2525";
  Directory().Write("MailSettings/Admin", digits);
  ASSERT_TRUE(ReadMailSettingsNode(Env(), "MailSettings/Admin", settings));
  EXPECT_EQ(settings.Port, 2525);

  test::TLogCapture log;
  const std::string fallbackHost = cloud.Deployment().SmtpHost;
  EXPECT_EQ(GetReportMailConfig(Env()).Host, fallbackHost);
  EXPECT_EQ(GetReportMailConfig(Env()).Host, fallbackHost);
  Clock().AdvanceSeconds(120);
  EXPECT_EQ(GetReportMailConfig(Env()).Host, fallbackHost);
  int errors = 0;
  for (const auto& line : log.Lines())
    if (line.rfind("ERROR Mail gonderim ayari okunamadi; varsayilan kullanilacak", 0) == 0) ++errors;
  EXPECT_EQ(errors, 2);
}

TEST_F(MailSettingsTest, NoConnectionIsAWarningAndTheBuiltInServer) {
  cloud.Directory().AddUser(test::TAccountCloud::kServiceEmail, "other");
  ClearSavedSignIn(Env());
  test::TLogCapture log;
  TRemoteMailSettings settings;
  EXPECT_FALSE(ReadMailSettingsNode(Env(), "MailSettings/Admin", settings));
  EXPECT_TRUE(log.Contains(TLogLevel::Warn,
                           "Mail ayari okunamadi (yetkilendirme): Firebase baglantisi basarisiz: INVALID_PASSWORD"));
  EXPECT_EQ(GetReportMailConfig(Env()).Host, cloud.Deployment().SmtpHost);
}

}  // namespace
}  // namespace calvora
