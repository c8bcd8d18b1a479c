// The cloud files and revisions windows against the emulator: list texts,
// button enabling, downloads into a chosen folder that Drive's names never
// leave, the "Tumunu Indir" summary, revisions newest first, pinning.
#include "DesktopTestSupport.h"

#include "desktop/DesktopText.h"
#include "desktop/frmDriveFileRevisions.h"
#include "desktop/frmPlanDriveFiles.h"
#include "engine/uCloudBackup.h"
#include "foundation/DateTime.h"
#include "foundation/TextFile.h"

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>

namespace calvora {
namespace {

using desktop::S;
using desktop::TDriveFileRevisionsForm;
using desktop::TPlanDriveFilesForm;
using test::RowCount;
using test::RowText;

class TRootProbe : public TCloudBackupService {
 public:
  using TCloudBackupService::AccountRootFolderId;
  using TCloudBackupService::TCloudBackupService;
};

TEST(DriveWindowTexts, SizesCaptionsAndTypes) {
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(desktop::DriveSizeText(0), "0 B");
  EXPECT_EQ(desktop::DriveSizeText(1023), "1023 B");
  EXPECT_EQ(desktop::DriveSizeText(1536), "1.5 KB");
  EXPECT_EQ(desktop::DriveSizeText(5LL << 20), "5.0 MB");
  EXPECT_EQ(desktop::DriveSizeText(3LL << 30), "3.0 GB");
  EXPECT_EQ(desktop::DriveSizeText(5LL << 40), "5120.0 GB");
  EXPECT_EQ(desktop::DriveFileType("db.bak"), "BAK");
  EXPECT_EQ(desktop::DriveFileType("archive.part1.rar"), "RAR");
  EXPECT_EQ(desktop::DriveFileType("README"), "");
  TDriveFileInfo file;
  file.Name = "db.bak";
  EXPECT_EQ(desktop::DriveFileCaption(file), "db.bak");
  file.RelativePath = "daily\\db.bak";
  EXPECT_EQ(desktop::DriveFileCaption(file), "daily\\db.bak");
}

class DriveWindowsTest : public test::DesktopTest {
 protected:
  void SetUp() override {
    DesktopTest::SetUp();
    QLocale::setDefault(QLocale::c());
    SignIn();
    SaveGoogleTokens(test::TDevCloudFixture::kClientID);
    TRootProbe engine(Env().Config().GetMSSQLBackupConfig(), Env());
    root = engine.AccountRootFolderId();
    ASSERT_FALSE(root.empty());
    plan.ID = "{44444444-0000-4000-8000-000000000001}";
    plan.Name = "Belgeler";
    plan.BackupType = "folder";
    plan.SourceFolder = "/veri/Belgeler";
    plan.DriveSubFolder = "Belgeler";
    planFolder = Google().AddFolder("Belgeler", root);
    target = testEnv->Root() + "/hedef";
    std::filesystem::create_directories(target);
  }
  // A file of the plan's Drive folder, `minutesAgo` old.
  std::string Add(const std::string& Name, const std::string& Folder, const std::string& Content, int MinutesAgo) {
    const std::string id = Google().AddFile(Name, Folder, Content);
    Google().SetModifiedTime(id, devcloud::NowUnixMs() - static_cast<std::int64_t>(MinutesAgo) * 60000);
    return id;
  }
  template <typename T>
  static T* Child(QWidget* Form, const char* Name) {
    T* widget = Form->findChild<T*>(Name);
    EXPECT_NE(widget, nullptr) << Name;
    return widget;
  }
  static std::string Status(QWidget* Form) { return S(Child<QLabel>(Form, "FStatusLabel")->text()); }
  static bool Enabled(QWidget* Form, const char* Name) { return Child<QPushButton>(Form, Name)->isEnabled(); }
  static void Select(QWidget* Form, int Row) {
    auto* list = Child<QTreeWidget>(Form, "FListView");
    list->setCurrentItem(list->topLevelItem(Row));
  }
  static void Click(QWidget* Form, const char* Name) { Child<QPushButton>(Form, Name)->click(); }

  TBackupPlan plan;
  std::string root, planFolder, target;
};

TEST_F(DriveWindowsTest, FilesWindowListsTheTreeAndKeepsLocalFiles) {
  const std::string daily = Google().AddFolder("daily", planFolder);
  Add("db.bak", daily, std::string(1536, 'x'), 1);
  Add("archive.part1.rar", planFolder, "rar", 2);
  Add("README", planFolder, "oku", 3);
  TPlanDriveFilesForm form(Env(), prompts, plan);
  EXPECT_EQ(S(form.windowTitle()), "Bulut Yedek Dosyalari - Belgeler");
  EXPECT_EQ(S(Child<QLabel>(&form, "FInfoLabel")->text()), "Bulut Yedek Dosyalari");
  EXPECT_EQ(Status(&form), "3 dosya bulundu. Cift tiklayarak indirebilirsiniz.");
  auto* list = Child<QTreeWidget>(&form, "FListView");
  ASSERT_EQ(RowCount(list), 3);
  EXPECT_EQ(RowText(list, 0, 0), "daily\\db.bak");
  EXPECT_EQ(RowText(list, 0, 1), "1.5 KB");
  EXPECT_EQ(RowText(list, 0, 3), "BAK");
  EXPECT_EQ(RowText(list, 1, 0), "archive.part1.rar");
  EXPECT_EQ(RowText(list, 1, 1), "3 B");
  EXPECT_EQ(RowText(list, 1, 3), "RAR");
  EXPECT_EQ(RowText(list, 2, 3), "");
  EXPECT_EQ(RowText(list, 0, 2).size(), std::string("dd.MM.yyyy hh:nn").size());

  EXPECT_FALSE(Enabled(&form, "FDownloadButton"));
  EXPECT_FALSE(Enabled(&form, "FRevisionsButton"));
  EXPECT_TRUE(Enabled(&form, "FDownloadAllButton"));
  form.DownloadSelected();
  EXPECT_EQ(prompts.LastMessage(), "Indirmek icin bir dosya secin.");
  form.OpenRevisions();
  EXPECT_EQ(prompts.LastMessage(), "Surumlerini gormek icin bir dosya secin.");
  Select(&form, 0);
  EXPECT_TRUE(Enabled(&form, "FDownloadButton"));
  EXPECT_TRUE(Enabled(&form, "FRevisionsButton"));

  // Drive's sub-folder is kept; a second copy counts up.
  prompts.AnswerFolder(target);
  Click(&form, "FDownloadButton");
  EXPECT_EQ(test::ReadFile(target + "/daily/db.bak"), std::string(1536, 'x'));
  EXPECT_EQ(Status(&form), "Indirildi: db.bak");
  EXPECT_EQ(prompts.LastMessage(), "Dosya indirildi: " + target + "/daily/db.bak");
  EXPECT_EQ(prompts.FolderTitles().back(), "Dosyalarin indirilecegi klasoru secin");
  prompts.AnswerFolder(target);
  emit list->itemDoubleClicked(list->topLevelItem(0), 0);
  EXPECT_TRUE(std::filesystem::exists(target + "/daily/db_1.bak"));
  EXPECT_EQ(Status(&form), "Indirildi: db_1.bak");
  // A cancelled picker does nothing.
  form.DownloadSelected();
  EXPECT_EQ(Status(&form), "Indirildi: db_1.bak");

  // The plan's folder empty: the engine's message is the status line.
  TBackupPlan empty = plan;
  empty.DriveSubFolder = "Bos";
  Google().AddFolder("Bos", root);
  TPlanDriveFilesForm fallback(Env(), prompts, empty);
  EXPECT_EQ(Status(&fallback), "Alt klasorde dosya bulunamadi; root klasordeki yedekler listelendi.");
}

TEST_F(DriveWindowsTest, HostileDriveNamesStayInsideTheChosenFolder) {
  for (const char* name : {"../x.bak", "/etc/calvora-x.bak", "a\\..\\..\\b.bak", "ka\x01r\x1f.bak", ".."})
    Add(name, planFolder, name, 1);
  const std::string sub = Google().AddFolder("..", planFolder);
  Add("y.bak", sub, "y", 1);
  TPlanDriveFilesForm form(Env(), prompts, plan);
  ASSERT_EQ(form.Files().size(), 6u);
  prompts.AnswerFolder(target);
  form.DownloadAll();
  EXPECT_EQ(Status(&form), "6 dosya indirildi.");
  EXPECT_EQ(prompts.LastMessage(), "6 dosya basariyla indirildi.");
  for (const char* local : {"x.bak", "etc/calvora-x.bak", "a/b.bak", "kar.bak", "dosya", "y.bak"})
    EXPECT_TRUE(std::filesystem::exists(target + "/" + local)) << local;
  EXPECT_FALSE(std::filesystem::exists(testEnv->Root() + "/x.bak"));
  EXPECT_FALSE(std::filesystem::exists("/etc/calvora-x.bak"));
}

TEST_F(DriveWindowsTest, DownloadAllGoesOnAfterAFailureAndSumsUp) {
  Add("a.bak", planFolder, "a", 1);
  const std::string gone = Add("b.bak", planFolder, "b", 2);
  Add("c.bak", planFolder, "c", 3);
  TPlanDriveFilesForm form(Env(), prompts, plan);
  ASSERT_EQ(form.Files().size(), 3u);
  {
    std::lock_guard<std::mutex> guard(Google().Lock());
    Google().DeleteLocked(gone);
  }
  prompts.AnswerFolder(target);
  Click(&form, "FDownloadAllButton");
  EXPECT_EQ(Status(&form), "2 dosya indirildi, 1 dosya basarisiz.");
  EXPECT_EQ(prompts.LastMessage(), "2 dosya indirildi, 1 dosya basarisiz.\r\nDrive dosyasi indirilemedi: b.bak");
  EXPECT_TRUE(std::filesystem::exists(target + "/a.bak"));
  EXPECT_TRUE(std::filesystem::exists(target + "/c.bak"));
  EXPECT_FALSE(std::filesystem::exists(target + "/b.bak"));
  EXPECT_TRUE(Enabled(&form, "FDownloadAllButton"));
  EXPECT_TRUE(Enabled(&form, "FRefreshButton"));
  EXPECT_FALSE(Enabled(&form, "FDownloadButton"));
}

// Between files the loop lets events through: a close asks and stops after
// the current file, a double-click starts nothing, and the window is freed
// only once the loop is done.
TEST_F(DriveWindowsTest, CloseAndDoubleClickDuringDownloadAllAreHandled) {
  for (const char* name : {"a.bak", "b.bak", "c.bak"}) Add(name, planFolder, name, 1);
  QPointer<TPlanDriveFilesForm> form = TPlanDriveFilesForm::OpenForPlan(Env(), prompts, plan);
  prompts.AnswerFolder(target);
  prompts.AnswerConfirm(true);
  bool sawDownloading = false;
  QTimer::singleShot(0, form.data(), [&] {
    sawDownloading = form->Downloading();
    auto* list = form->findChild<QTreeWidget*>("FListView");
    emit list->itemDoubleClicked(list->topLevelItem(1), 0);
    form->close();
    test::FlushDeletes();
    EXPECT_TRUE(form);  // still alive under the running loop
  });
  form->DownloadAll();
  EXPECT_TRUE(sawDownloading);
  EXPECT_EQ(prompts.FolderTitles().size(), 1u);  // the double-click asked for nothing
  ASSERT_EQ(prompts.Questions().size(), 1u);
  EXPECT_EQ(prompts.Questions()[0], "Indirme suruyor. Suanki dosyadan sonra durdurulup pencere kapatilsin mi?");
  EXPECT_EQ(prompts.LastMessage(), "1 dosya basariyla indirildi.");
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(target)) files += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1);
  EXPECT_TRUE(WaitUntil([&] { return test::FlushDeletes(), form.isNull(); }));
}

class RevisionsWindowTest : public DriveWindowsTest {
 protected:
  void SetUp() override {
    DriveWindowsTest::SetUp();
    fileId = Google().AddFile("Muhasebe_.bak", planFolder, "pazartesi");
    ids.push_back(Google().File(fileId)->revisions[0].id);
    ids.push_back(Google().AddRevision(fileId, "sali"));
    ids.push_back(Google().AddRevision(fileId, "carsamba"));
    // Stored order: middle, oldest, newest.
    const std::int64_t now = devcloud::NowUnixMs() / 1000 * 1000;
    times = {now - 2 * 3600000, now - 3 * 3600000, now - 3600000};
    for (size_t i = 0; i < ids.size(); ++i) Google().SetRevisionModifiedTime(fileId, ids[i], times[i]);
    file.FileID = fileId;
    file.Name = "Muhasebe_.bak";
  }
  static std::string Stamp(std::int64_t UnixMs) {
    const TDateTimeParts p = DecodeDateTime(UnixToLocalDateTime(static_cast<double>(UnixMs) / 1000));
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d_%02d%02d%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
    return text;
  }
  std::string fileId;
  std::vector<std::string> ids;
  std::vector<std::int64_t> times;
  TDriveFileInfo file;
};

TEST_F(RevisionsWindowTest, NewestFirstNumberedDownDownloadedUnderTheirDate) {
  TDriveFileRevisionsForm form(Env(), prompts, file);
  EXPECT_EQ(S(form.windowTitle()), "Bulut Surumleri - Muhasebe_.bak");
  EXPECT_EQ(Status(&form), "3 surum bulundu. En yenisi en uste yerlestirildi.  Kalici saklanan: 0 / 200.");
  auto* list = Child<QTreeWidget>(&form, "FListView");
  ASSERT_EQ(RowCount(list), 3);
  const std::vector<std::string> order{ids[2], ids[0], ids[1]};
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(RowText(list, row, 0), std::to_string(3 - row));
    EXPECT_EQ(RowText(list, row, 3), order[row]);
    EXPECT_EQ(RowText(list, row, 4), "Hayir");
  }
  EXPECT_FALSE(Enabled(&form, "FDownloadButton"));
  EXPECT_FALSE(Enabled(&form, "FPinButton"));
  form.DownloadSelected();
  EXPECT_EQ(prompts.LastMessage(), "Indirmek icin bir surum secin.");

  Select(&form, 2);  // the oldest, "#1"
  EXPECT_TRUE(Enabled(&form, "FDownloadButton"));
  const std::string dest = target + "/eski.bak";
  prompts.AnswerFolder(dest);
  Click(&form, "FDownloadButton");
  EXPECT_EQ(prompts.SaveSuggestions().back(), "Muhasebe__rev_" + Stamp(times[1]) + ".bak|bak");
  EXPECT_EQ(prompts.FolderTitles().back(), "Surumun kaydedilecegi konumu secin");
  EXPECT_EQ(test::ReadFile(dest), "sali");
  EXPECT_EQ(Status(&form), "Surum indirildi: eski.bak");
  EXPECT_EQ(prompts.LastMessage(), "Surum indirildi: " + dest);
  // Cancelled: nothing happens.
  Click(&form, "FDownloadButton");
  EXPECT_EQ(Status(&form), "Surum indirildi: eski.bak");
}

// The revision download lets events through before it starts: a close
// then waits for it, a double-click starts no second one.
TEST_F(RevisionsWindowTest, CloseDuringARevisionDownloadWaitsForIt) {
  QPointer<TDriveFileRevisionsForm> form = TDriveFileRevisionsForm::OpenForFile(Env(), prompts, file);
  Select(form.data(), 0);
  prompts.AnswerFolder(target + "/son.bak");
  prompts.AnswerFolder(target + "/ikinci.bak");
  QTimer::singleShot(0, form.data(), [&] {
    auto* list = form->findChild<QTreeWidget*>("FListView");
    emit list->itemDoubleClicked(list->topLevelItem(0), 0);
    form->close();
    test::FlushDeletes();
    EXPECT_TRUE(form);
  });
  form->DownloadSelected();
  EXPECT_EQ(prompts.SaveSuggestions().size(), 1u);
  EXPECT_EQ(test::ReadFile(target + "/son.bak"), "carsamba");
  EXPECT_FALSE(std::filesystem::exists(target + "/ikinci.bak"));
  EXPECT_TRUE(WaitUntil([&] { return test::FlushDeletes(), form.isNull(); }));
}

TEST_F(RevisionsWindowTest, PinAndUnpinRoundTripAndTheLimit) {
  TDriveFileRevisionsForm form(Env(), prompts, file);
  Select(&form, 1);
  auto* pin = Child<QPushButton>(&form, "FPinButton");
  EXPECT_EQ(S(pin->text()), "Kalici Sakla");
  pin->click();
  EXPECT_TRUE(Google().File(fileId)->revisions[0].keepForever);
  auto* list = Child<QTreeWidget>(&form, "FListView");
  EXPECT_EQ(RowText(list, 1, 4), "Evet");
  EXPECT_EQ(list->currentItem(), list->topLevelItem(1));  // the selection stays on it
  EXPECT_EQ(S(pin->text()), "Sabitlemeyi Kaldir");
  EXPECT_EQ(Status(&form), "Surum kalici olarak saklanacak.  Kalici saklanan: 1 / 200.");
  pin->click();
  EXPECT_FALSE(Google().File(fileId)->revisions[0].keepForever);
  EXPECT_EQ(RowText(list, 1, 4), "Hayir");
  EXPECT_EQ(S(pin->text()), "Kalici Sakla");

  // 200 pinned already: the next pin is refused with the way out.
  for (int i = 0; i < 200; ++i) {
    const std::string id = Google().AddRevision(fileId, "p" + std::to_string(i));
    Google().SetRevisionKeepForever(fileId, id, true);
  }
  Google().AddRevision(fileId, "bas");
  Click(&form, "FRefreshButton");
  EXPECT_EQ(Status(&form), "204 surum bulundu. En yenisi en uste yerlestirildi.  Kalici saklanan: 200 / 200.");
  Select(&form, RowCount(list) - 1);
  pin->click();
  EXPECT_EQ(prompts.Messages().back().Kind, desktop::TMessageKind::Warning);
  EXPECT_EQ(prompts.LastMessage(), "Bu dosyanin 200 surumu zaten kalici saklaniyor; Drive bir dosyanin en fazla 200 "
                                   "surumunu kalici saklar. Once eski bir surumun sabitlemesini kaldirin.");
  EXPECT_FALSE(Google().File(fileId)->revisions[1].keepForever);
}

TEST_F(RevisionsWindowTest, FilesWindowOpensTheRevisionsOfTheSelectedFile) {
  TPlanDriveFilesForm files(Env(), prompts, plan);
  Select(&files, 0);
  Click(&files, "FRevisionsButton");
  QPointer<TDriveFileRevisionsForm> revisions;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* r = qobject_cast<TDriveFileRevisionsForm*>(w)) revisions = r;
  ASSERT_TRUE(revisions);
  EXPECT_EQ(revisions->FileInfo().FileID, fileId);
  EXPECT_EQ(revisions->Revisions().size(), 3u);
  revisions->close();
  EXPECT_TRUE(WaitUntil([&] { return test::FlushDeletes(), revisions.isNull(); }));
}

}  // namespace
}  // namespace calvora
