// The plan run driver: the checks before a run, its error handler, the
// disk-space words and the engine's Google client.
#include "EngineTestSupport.h"

#include "AccountDirectoryState.h"
#include "google/uGoogleAuth.h"
#include "plans/uPlanActivityStore.h"

#include <gmock/gmock.h>

#include <filesystem>

namespace calvora::test {
namespace {

TEST(DiskSpaceError, IsFoundInAnyLetterCase) {
  struct Case {
    const char* message;
    bool diskSpace;
  };
  const Case cases[] = {
      {"Disk alani yetersiz. Hesap kotasi asiliyor. Kullanilan: 1 MB", true},
      {"  Yukleme durdu: GOOGLE DRIVE Kapasitesi Yetersiz", true},
      {"KOTA YETERSIZ", true},
      {"hesap kotasi asiliyor", true},
      {"Drive yukleme basarisiz.", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(TCloudBackupService::IsDiskSpaceError(c.message), c.diskSpace) << c.message;
}

class DriverTest : public EngineTest {};

TEST_F(DriverTest, PlansThatCannotRunAreRefusedWithTheirMessage) {
  TMSSQLBackupConfig disabled = SqlConfig();
  disabled.Enabled = false;
  TMSSQLBackupConfig noUser = SqlConfig();
  noUser.UserName = "  ";
  TBackupPlan firebird = SqlPlan("/data/STOK.FDB");
  firebird.BackupType = "firebird";
  TBackupPlan blank = SqlPlan("  ");
  struct Case {
    TMSSQLBackupConfig config;
    TBackupPlan plan;
    const char* message;
  };
  const Case cases[] = {
      {disabled, SqlPlan(), "MSSQL backup ayarlari eksik."},
      {noUser, SqlPlan(), "MSSQL backup ayarlari eksik."},
      {SqlConfig(), firebird, "Firebird backup ayarlari etkin degil."},
      {SqlConfig(), blank, "Plan icin veritabani adi/yolu girilmemis."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TLogCapture log;
    auto engine = MakeEngine(c.config);
    TBackupPlan plan = c.plan;
    std::string file, message;
    EXPECT_FALSE(engine->BackupPlan(plan, file, message));
    EXPECT_EQ(message, c.message);
    EXPECT_TRUE(log.Contains(TLogLevel::Error, std::string("DB backup istisnasi | EAppError: ") + c.message));
    TPlanActivitySnapshot snapshot;
    ASSERT_TRUE(TryGetPlanActivity(Env(), plan.ID, snapshot));
    EXPECT_EQ(snapshot.CurrentStage, "Hata");
    EXPECT_EQ(snapshot.LastMessage, c.message);
  }
}

TEST_F(DriverTest, FolderPlanIsAcceptedWhateverTheDatabaseSettings) {
  TMSSQLBackupConfig disabled = SqlConfig();
  disabled.Enabled = false;
  TBackupPlan plan;
  plan.ID = "{F}";
  plan.BackupType = "folder";
  plan.SourceFolder = testEnv->Root() + "/bos";
  std::filesystem::create_directories(plan.SourceFolder);
  auto engine = MakeEngine(disabled);
  std::string file, message;
  EXPECT_TRUE(engine->BackupPlan(plan, file, message)) << message;
  EXPECT_EQ(file, plan.SourceFolder);
}

TEST_F(DriverTest, AccountWithItsOwnOAuthClientIsAuthorisedWithIt) {
  EXPECT_EQ(MakeEngine()->GoogleAuth().ClientID(), TDevCloudFixture::kClientID);
  Cloud().Account().Write("Lisanslar/musteri/OAuthClientID", devcloud::DatabaseJson(" hesabin-istemcisi "));
  EXPECT_EQ(MakeEngine()->GoogleAuth().ClientID(), "hesabin-istemcisi");
}

TEST_F(DriverTest, MissingOrDeadGoogleTokenStopsTheWork) {
  std::filesystem::remove(Env().Config().GetGoogleTokenCachePath());
  auto engine = MakeEngine();
  try {
    engine->EnsureGoogleToken();
    ADD_FAILURE() << "no error";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Google yetkilendirme tokeni bulunamadi. Masaustu uygulamadan yeniden yetkilendirme yapin.");
  }

  TTokenData dead;
  dead.AccessToken = "eskimis";
  dead.RefreshToken = "iptal";
  dead.ExpiresAt = IncMinutes(Clock().Now(), -10);
  engine->GoogleAuth().SetTokenData(dead);
  try {
    engine->EnsureGoogleToken();
    ADD_FAILURE() << "no error";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Google erisim tokeni yenilenemedi.");
  }
}

// The central pool may leave only a refresh token in the cache, and Google
// may refuse a token the cache still calls valid: either way the token is
// renewed, saved, and the run's Drive work goes on.
TEST_F(DriverTest, RefreshTokenAloneOrARefusedTokenStillLetsTheRunWork) {
  const std::string cache = Env().Config().GetGoogleTokenCachePath();
  for (bool withAccessToken : {false, true}) {
    SCOPED_TRACE(withAccessToken);
    TTokenData tokens;
    tokens.RefreshToken = cloud.RefreshToken();
    if (withAccessToken) {
      tokens.AccessToken = cloud.AccessToken();
      tokens.ExpiresAt = IncMinutes(Clock().Now(), 60);
      Google().ExpireAllAccessTokens();
    }
    TGoogleAuth writer(Env(), TDevCloudFixture::kClientID, TDevCloudFixture::kClientSecret, 8080, false);
    writer.SetTokenData(tokens);
    writer.SaveTokens(cache);

    auto engine = MakeEngine();
    EXPECT_NO_THROW(engine->EnsureGoogleToken());
    std::string path = WorkDir() + "/Muhasebe_.bak", message;
    WriteBytes(path, 3000);
    ASSERT_TRUE(engine->UploadBackup(SqlPlan(), path, message)) << message;
    TGoogleAuth reader(Env(), "id", "secret", 8080, false);
    reader.LoadTokens(cache);
    EXPECT_TRUE(Google().IsValidAccessToken(reader.TokenData().AccessToken)) << "the renewed token was saved";
  }
  EXPECT_EQ(Google().FilesNamed("Muhasebe_.bak").size(), 1u);
}

}  // namespace
}  // namespace calvora::test
