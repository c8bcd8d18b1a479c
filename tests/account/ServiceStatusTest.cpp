#include "AccountCloud.h"

#include "account/uFirebaseActiveAccount.h"
#include "account/uFirebaseServiceStatus.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

using devcloud::DatabaseJson;

TEST(ServiceActiveHours, WholeMinutesSplitIntoDaysHoursMinutes) {
  const TDateTime now = EncodeDateTime(2024, 3, 5, 10, 0, 0);
  struct Case {
    TDateTime startedAt;
    const char* text;
  } cases[] = {
      {IncMinutes(now, -(2 * 1440 + 3 * 60 + 5)), "2 gun 3 saat 5 dk"},
      {IncSeconds(now, -59), "0 saat 0 dk"},
      {IncHours(now, -25), "1 gun 1 saat 0 dk"},
      {IncSeconds(now, -(23 * 3600 + 59 * 60 + 59)), "23 saat 59 dk"},
      {now, "0 saat 0 dk"},
      {0, ""},
      {-1, ""},
      {IncSeconds(now, 1), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatServiceActiveHours(now, c.startedAt), c.text) << c.text;
}

class ServiceStatusTest : public test::AccountTest {
 protected:
  void SetUp() override {
    AddAccount("musteri1", DatabaseJson{{"LoginName", "ali"}, {"Sifre", "pw"}, {"KotaMB", 100},
                                         {"YedeklemePolitikaId", "p1"}, {"ServiceStatus", "eski"}});
  }
};

TEST_F(ServiceStatusTest, HeartbeatAndLastRunMergeIntoTheRecord) {
  SignInAs(" ali ");
  const TDateTime now = EncodeDateTime(2024, 3, 5, 14, 7, 9);
  std::string error;
  ASSERT_TRUE(ReportServiceHeartbeat(Env(), " Calisiyor ", error, now, IncMinutes(now, -65))) << error;
  ASSERT_TRUE(ReportLastPlanRun(Env(), error, EncodeDateTime(2024, 3, 5, 14, 30, 0))) << error;
  EXPECT_EQ(Directory().Read("Lisanslar/musteri1"),
            (DatabaseJson{{"LoginName", "ali"},
                          {"Sifre", "pw"},
                          {"KotaMB", 100},
                          {"YedeklemePolitikaId", "p1"},
                          {"ServiceStatus", "eski"},
                          {"ServisDurumu", "Calisiyor"},
                          {"ServisAktifCalismaSaati", "1 saat 5 dk"},
                          {"ServisSonBildirim", "2024-03-05 14:07:09"},
                          {"UpdatedAt", "2024-03-05 14:30:00"},
                          {"SonPlanGerceklestirmeSaati", "2024-03-05 14:30:00"}}));

  ASSERT_TRUE(WriteServiceStatus(Env(), "ali", kServiceStatusStopped, error, now, 0));
  EXPECT_EQ(Directory().Read("Lisanslar/musteri1/ServisAktifCalismaSaati"), "");
  EXPECT_EQ(Directory().Read("Lisanslar/musteri1/ServisDurumu"), "Durduruldu");
}

TEST_F(ServiceStatusTest, NothingIsWrittenWithoutAKnownSavedSignIn) {
  const TDateTime now = EncodeDateTime(2024, 3, 5, 14, 7, 9);
  std::string error, login;
  EXPECT_FALSE(GetServiceLoginName(Env(), login, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(ReportServiceHeartbeat(Env(), "Calisiyor", error, now, now));
  EXPECT_FALSE(ReportLastPlanRun(Env(), error, now));
  EXPECT_EQ(cloud.Patches(""), 0);

  SignInAs("bilinmeyen");
  EXPECT_FALSE(ReportServiceHeartbeat(Env(), "Calisiyor", error, now, now));
  EXPECT_EQ(error, "Servis hesabi Firebase'de bulunamadi: bilinmeyen");
  EXPECT_TRUE(Directory().Read("Lisanslar/bilinmeyen").is_null());
  EXPECT_EQ(cloud.Patches(""), 0);
}

}  // namespace
}  // namespace calvora
