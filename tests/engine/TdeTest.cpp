// TDE watch: the baseline file, and every way the pre-check and the backup
// header can turn out, through whole SQL Server plan runs.
#include "EngineTestSupport.h"

#include "engine/uTdeBaselineStore.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "platform/file_io.h"

#include <gmock/gmock.h>

#include <filesystem>

namespace calvora::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class TdeBaselineTest : public EngineTest {
 protected:
  std::string Stored(const std::string& key) {
    TJson baseline;
    if (!TryParseJson(ReadTextFile(TdeBaselinePath(Env())), baseline)) return "?";
    return JsonMemberText(baseline[key], "thumbprint");
  }
};

TEST_F(TdeBaselineTest, CodesFollowTheStoredThumbprint) {
  struct Step {
    const char* thumbprint;
    int code;
    const char* previous;
    const char* stored;
  };
  const Step steps[] = {
      {"", kTdeFirstSeen, "", "NONE"},
      {" ", kTdeUnchanged, "NONE", "NONE"},
      {"ab12", kTdeNewlyEncrypted, "NONE", "NONE"},  // reported again until the file goes
      {"AB12", kTdeNewlyEncrypted, "NONE", "NONE"},
  };
  for (const Step& s : steps) {
    std::string previous;
    EXPECT_EQ(CheckTdeBaseline(Env(), " SQL01 ", "Muhasebe", s.thumbprint, previous), s.code) << s.thumbprint;
    EXPECT_EQ(previous, s.previous);
    EXPECT_EQ(Stored("sql01|muhasebe"), s.stored);
  }

  std::filesystem::remove(TdeBaselinePath(Env()));
  const Step later[] = {
      {" ab12 ", kTdeFirstSeen, "", "AB12"},
      {"AB12", kTdeUnchanged, "AB12", "AB12"},
      {"CD34", kTdeCertificateChanged, "AB12", "AB12"},
      {"", kTdeSwitchedOff, "AB12", "NONE"},
  };
  for (const Step& s : later) {
    std::string previous;
    EXPECT_EQ(CheckTdeBaseline(Env(), "SQL01", "MUHASEBE", s.thumbprint, previous), s.code) << s.thumbprint;
    EXPECT_EQ(previous, s.previous);
    EXPECT_EQ(Stored("sql01|muhasebe"), s.stored);
  }
  TJson baseline;
  ASSERT_TRUE(TryParseJson(ReadTextFile(TdeBaselinePath(Env())), baseline));
  EXPECT_EQ(baseline["sql01|muhasebe"]["firstSeenAt"], "2024-03-05 10:00:00");
}

TEST_F(TdeBaselineTest, UnreadableBaselineIsRebuilt) {
  std::string previous;
  WriteFile(TdeBaselinePath(Env()), "bozuk {");
  {
    TLogCapture log;
    EXPECT_EQ(CheckTdeBaseline(Env(), "S", "D", "", previous), kTdeFirstSeen);
    EXPECT_FALSE(log.Contains("TDE baseline dosyasi okunamadi"));
  }
  WriteFile(TdeBaselinePath(Env()), "[1, 2]");
  TLogCapture log;
  EXPECT_EQ(CheckTdeBaseline(Env(), "S", "D", "", previous), kTdeFirstSeen);
  EXPECT_TRUE(log.Contains(TLogLevel::Error,
                           "TDE baseline dosyasi okunamadi, yeniden olusturulacak: " + TdeBaselinePath(Env())));
  EXPECT_EQ(Stored("s|d"), "NONE");
}

// A whole plan run per case, with a baseline set up before it.
class TdePlanTest : public EngineTest {
 protected:
  TdePlanTest() { InstallFakeScript(ProgramDir(), "BackupDatabase.py"); }

  void Baseline(const std::string& thumbprint) {
    std::string previous;
    CheckTdeBaseline(Env(), "SQL01", "Muhasebe", thumbprint, previous);
  }

  // An old backup of the plan (a full one from when it took differential
  // backups), locally and on Drive, which retention would remove.
  void OldBackups() {
    WriteFile(WorkDir() + "/Muhasebe__FULL.bak", "eski");
    platform::SetFileModifiedUnix(WorkDir() + "/Muhasebe__FULL.bak", LocalDateTimeToUnix(IncDays(Clock().Now(), -30)));
    auto engine = MakeEngine();
    std::string id = Google().AddFile("Muhasebe__FULL.bak", engine->AccountRootFolderId(), "eski");
    Google().SetModifiedTime(id, static_cast<std::int64_t>(LocalDateTimeToUnix(IncDays(Clock().Now(), -30)) * 1000));
  }

  bool Run(const std::string& tdeStep, const std::string& backupExtras, std::string& message) {
    WriteScenario(ProgramDir(), R"({"tdeStatus": )" + tdeStep + R"(, "backup": {"writeBytes": 2000, "result":
        {"success": true)" + backupExtras + "}}}");
    TBackupPlan plan = SqlPlan();
    plan.LocalBackupRetentionDays = 7;
    std::string file;
    return MakeEngine()->BackupPlan(plan, file, message);
  }

  bool OldBackupsRemain() {
    return std::filesystem::exists(WorkDir() + "/Muhasebe__FULL.bak") &&
           !Google().FilesNamed("Muhasebe__FULL.bak").empty();
  }

  static constexpr const char* kUpload = "Yedek alindi ve Drive'a yuklendi: Muhasebe_.bak";
  static constexpr const char* kUpdated = "Yedek alindi ve Drive uzerinde yeni surum olarak kaydedildi: Muhasebe_.bak";
};

constexpr const char* kPlain = R"({"result": {"success": true, "tdeSupported": true, "tdeIsEncrypted": false}})";
constexpr const char* kEncrypted =
    R"({"result": {"success": true, "tdeSupported": true, "tdeIsEncrypted": true, "tdeDetailAvailable": true,
        "tdeThumbprint": " ab12 ", "tdeCertName": "TDECert"}})";

TEST_F(TdePlanTest, FirstRunsRecordTheStateWithoutAlarm) {
  std::string message;
  ASSERT_TRUE(Run(kPlain, "", message)) << message;
  EXPECT_EQ(message, kUpload);

  std::filesystem::remove(TdeBaselinePath(Env()));
  ASSERT_TRUE(Run(kEncrypted, R"(, "bakTdeThumbprint": "AB12")", message)) << message;
  EXPECT_EQ(message, std::string("Bilgi: Muhasebe veritabani TDE ile sifreli bulundu ve bu durum referans olarak "
                                 "kaydedildi (sertifika: TDECert, thumbprint: ab12). TDE bilincli kullanilmiyorsa "
                                 "derhal inceleyin; kullaniliyorsa sertifika ve ozel anahtar yedeginizin guvende "
                                 "oldugundan emin olun. | ") +
                         kUpdated);
}

TEST_F(TdePlanTest, NewEncryptionFreezesRetentionAndFailsEveryRunUntilConfirmed) {
  Baseline("");
  OldBackups();
  const std::string text =
      "Muhasebe veritabaninda TDE sifrelemesi YENI AKTIF EDILDI (sertifika: TDECert, thumbprint: ab12). Bu, TDE "
      "suistimali fidye saldirisinin belirtisi olabilir: bundan sonraki tum yedekler bu sertifika olmadan geri "
      "yuklenemez. Eski yedeklerin silinmesi (retention) donduruldu. Degisiklik bilincli yapildiysa " +
      TdeBaselinePath(Env()) + " dosyasini silerek yeni durumu onaylayin.";
  for (int run = 0; run < 2; ++run) {
    TLogCapture log;
    std::string message;
    EXPECT_FALSE(Run(kEncrypted, R"(, "bakTdeThumbprint": "AB12")", message));
    EXPECT_EQ(message, "[TDE UYARISI] " + text +
                           " | Yedek alindi ve Drive'a yuklendi ancak TDE anomalisi nedeniyle plan hatali "
                           "isaretlendi. | " +
                           (run == 0 ? kUpload : kUpdated));
    EXPECT_TRUE(log.Contains(TLogLevel::Warn, "TDE ANOMALISI: " + text));
    EXPECT_TRUE(OldBackupsRemain());
    EXPECT_EQ(Google().FilesNamed("Muhasebe_.bak").size(), 1u);  // the backup itself is uploaded
  }
}

TEST_F(TdePlanTest, ReplacedCertificateNamesBothThumbprints) {
  Baseline("FF99");
  std::string message;
  EXPECT_FALSE(Run(kEncrypted, R"(, "bakTdeThumbprint": "AB12")", message));
  EXPECT_THAT(message, StartsWith("[TDE UYARISI] Muhasebe veritabaninin TDE sertifikasi DEGISTI (eski thumbprint: "
                                  "FF99, yeni thumbprint: ab12, sertifika: TDECert). "));
}

TEST_F(TdePlanTest, SwitchedOffEncryptionIsReportedAndRecorded) {
  Baseline("AB12");
  OldBackups();
  std::string message;
  ASSERT_TRUE(Run(kPlain, "", message)) << message;
  EXPECT_EQ(message, std::string("Uyari: Muhasebe veritabaninda TDE sifrelemesi KAPATILDI (onceki thumbprint: "
                                 "AB12). Bu beklenmiyorsa inceleyin. | ") +
                         kUpload);
  EXPECT_FALSE(OldBackupsRemain());  // no anomaly: retention ran
  std::string previous;
  EXPECT_EQ(CheckTdeBaseline(Env(), "SQL01", "Muhasebe", "", previous), kTdeUnchanged);
}

TEST_F(TdePlanTest, UnverifiableStateSucceedsUnlessEncryptionIsKnown) {
  std::string message;
  ASSERT_TRUE(Run(R"({"result": {"success": false, "message": "VIEW SERVER STATE izni yok"}})",
                  R"(, "bakTdeCheckError": "RESTORE HEADERONLY reddedildi")", message))
      << message;
  EXPECT_EQ(message,
            std::string("[TDE BILGI] TDE sifreleme durumu dogrulanamadi (TDE on kontrolu yapilamadi: VIEW SERVER STATE "
                        "izni yok). Sifreleme belirtisi bulunmadi; yedek basariyla tamamlandi. | ") +
                kUpload);

  EXPECT_FALSE(Run(R"({"result": {"success": true, "tdeSupported": true, "tdeIsEncrypted": true,
                       "tdeDetailAvailable": false, "tdeError": "sertifika gorunmuyor"}})",
                   R"(, "bakTdeCheckError": "RESTORE HEADERONLY reddedildi")", message));
  EXPECT_EQ(message, std::string("[TDE UYARISI] Muhasebe veritabani TDE ile sifreli ancak sertifika thumbprint "
                                 "bilgisi dogrulanamadi. Yedek alindi ve yuklendi; bu yedek ilgili sertifika/ozel "
                                 "anahtar olmadan GERI YUKLENEMEZ. Sertifika ve anahtar yedeginizin guvende oldugunu "
                                 "dogrulayin. | ") +
                         kUpdated);
}

TEST_F(TdePlanTest, EncryptedHeaderOfAnUnencryptedDatabaseIsAnAnomaly) {
  Baseline("");
  std::string message;
  EXPECT_FALSE(Run(kPlain, R"(, "bakTdeThumbprint": "EE77")", message));
  EXPECT_THAT(message, StartsWith("[TDE UYARISI] Olusan yedek dosyasinin basliginda beklenmeyen TDE sifrelemesi "
                                  "tespit edildi (thumbprint: EE77). "));
  EXPECT_THAT(message, HasSubstr("ancak TDE anomalisi nedeniyle plan hatali isaretlendi."));
  std::string previous;
  EXPECT_EQ(CheckTdeBaseline(Env(), "SQL01", "Muhasebe", "", previous), kTdeUnchanged);  // baseline untouched
}

TEST_F(TdePlanTest, AnomalyPrefixesAFailedBackup) {
  Baseline("");
  WriteScenario(ProgramDir(), std::string(R"({"tdeStatus": )") + kEncrypted +
                                  R"(, "backup": {"result": {"success": false, "message": "Disk dolu"}}})");
  TBackupPlan plan = SqlPlan();
  std::string file, message;
  EXPECT_FALSE(MakeEngine()->BackupPlan(plan, file, message));
  EXPECT_THAT(message, StartsWith("[TDE UYARISI] Muhasebe veritabaninda TDE sifrelemesi YENI AKTIF EDILDI"));
  EXPECT_THAT(message, ::testing::EndsWith(" | Disk dolu"));
}

}  // namespace
}  // namespace calvora::test
