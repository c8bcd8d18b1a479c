// Which errors mean "another program holds the file", and readable copies
// made by the locked-file script.
#include "EngineTestSupport.h"

#include "foundation/AppError.h"
#include "foundation/TextFile.h"
#include "platform/http_client.h"

#include <gmock/gmock.h>

#include <filesystem>

namespace calvora::test {
namespace {

namespace fs = std::filesystem;

TEST(LockedFileError, IsRecognisedByKindOrWording) {
  EXPECT_TRUE(TCloudBackupService::IsLockedFileError(EFileError("Dosya okunamadı: /srv/a.bak")));
  EXPECT_TRUE(TCloudBackupService::IsLockedFileError(platform::HttpTransportError("Dosya okunamadi: /srv/a.bak")));
  EXPECT_FALSE(TCloudBackupService::IsLockedFileError(platform::HttpTransportError("Connection reset by peer")));
  struct Case {
    const char* message;
    bool locked;
  };
  const Case cases[] = {
      {"The process cannot access the file because it is being used by another process.", true},
      {"SHARING VIOLATION", true},
      {"Dosya baska bir islem tarafindan kullaniliyor", true},
      {"Access is denied", true},
      {"open: Permission denied", true},
      {"Stream read error", true},
      {"Dosya bulunamadı: /srv/a.bak", false},
      {"Drive yukleme basarisiz.", false},
  };
  for (const Case& c : cases) EXPECT_EQ(TCloudBackupService::IsLockedFileError(EAppError(c.message)), c.locked) << c.message;
}

class ReadableCopyTest : public EngineTest {
 protected:
  std::string CopiesRoot() const { return testEnv->TempDir() + "/CalvoraReadableCopies"; }
  std::string Source() const { return WorkDir() + "/Muhasebe_.bak"; }
};

TEST_F(ReadableCopyTest, CopyIsMadeBesideNothingElseAndRemovedWithItsFolder) {
  InstallRealScripts(ProgramDir());
  WriteFile(Source(), "yedek icerigi");
  auto engine = MakeEngine();
  std::string copy, error;
  ASSERT_TRUE(engine->CreateReadableCopy(Source(), copy, error)) << error;
  EXPECT_EQ(ReadFile(copy), "yedek icerigi");
  EXPECT_EQ(fs::path(copy).filename(), "Muhasebe_.bak");
  EXPECT_EQ(fs::path(copy).parent_path().parent_path(), CopiesRoot());
  EXPECT_EQ(fs::path(copy).parent_path().filename().string().size(), 11u);
  engine->DeleteReadableCopy(copy);
  EXPECT_TRUE(fs::is_empty(CopiesRoot()));
}

TEST_F(ReadableCopyTest, FailuresGiveTheirTextAndLeaveNothingBehind) {
  auto engine = MakeEngine();
  std::string copy, error;
  EXPECT_FALSE(engine->CreateReadableCopy(Source(), copy, error));
  EXPECT_EQ(error, "Kaynak dosya bulunamadi: " + Source());

  WriteFile(Source(), "x");
  EXPECT_FALSE(engine->CreateReadableCopy(Source(), copy, error));
  EXPECT_EQ(error, "Kilitli dosya kopyalama script dosyasi bulunamadi: " + ProgramDir() + "/sql/CopyLockedFile.py");
  EXPECT_EQ(copy, "");
  EXPECT_TRUE(fs::is_empty(CopiesRoot()));

  InstallFakeScript(ProgramDir(), "CopyLockedFile.py");
  WriteScenario(ProgramDir(), R"({"copy": {"result": {"success": false, "message": "Kopya alinamadi: disk dolu"}}})");
  EXPECT_FALSE(engine->CreateReadableCopy(Source(), copy, error));
  EXPECT_EQ(error, "Kopya alinamadi: disk dolu");
  WriteScenario(ProgramDir(), R"({"copy": {"result": {"success": true, "backupFilePath": "/yok/kopya.bak"}}})");
  EXPECT_FALSE(engine->CreateReadableCopy(Source(), copy, error));
  EXPECT_EQ(error, "Snapshot kopyasi olustu bildirildi ancak dosya bulunamadi: /yok/kopya.bak");
  EXPECT_TRUE(fs::is_empty(CopiesRoot()));
}

}  // namespace
}  // namespace calvora::test
