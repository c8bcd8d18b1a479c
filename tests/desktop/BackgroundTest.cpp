#include "DesktopTestSupport.h"

#include "account/uFirebaseActiveAccount.h"
#include "desktop/DesktopText.h"
#include "foundation/TextFile.h"
#include "runner/uBackupPlanRunner.h"
#include "service/uAppUpdater.h"

#include <QAction>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QToolButton>
#include <QTreeWidget>

#include <condition_variable>
#include <mutex>
#include <stdexcept>

namespace calvora {
namespace {

using desktop::S;

// A backup that reports progress and then waits until the test lets it end.
class TGate {
 public:
  void Open() {
    std::lock_guard<std::mutex> guard(lock_);
    open_ = true;
    wake_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> guard(lock_);
    wake_.wait(guard, [this] { return open_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable wake_;
  bool open_ = false;
};

class BackgroundTest : public test::DesktopTest {
 protected:
  void SetUp() override {
    DesktopTest::SetUp();
    SignIn();
    TBackupPlan sql;
    sql.ID = "{22222222-0000-4000-8000-000000000001}";
    sql.Name = "Gece SQL";
    sql.Enabled = true;
    sql.DatabaseName = "Muhasebe";
    TBackupPlan folder = sql;
    folder.ID = "{22222222-0000-4000-8000-000000000002}";
    folder.Name = "Belgeler";
    folder.BackupType = "folder";
    folder.SourceFolder = "/veri";
    TBackupPlan firebird = sql;
    firebird.ID = "{22222222-0000-4000-8000-000000000003}";
    firebird.Name = "Stok";
    firebird.BackupType = "firebird";
    firebird.DatabaseName = "/db/stok.fdb";
    TBackupPlanStore(Env()).SavePlans({sql, folder, firebird});
    sqlID = sql.ID;
  }
  void TearDown() override {
    gate.Open();
    DesktopTest::TearDown();
  }
  void Select(int Row) {
    auto* list = Find<QTreeWidget>("ListViewFiles");
    list->setCurrentItem(list->topLevelItem(Row));
  }
  // A run through the real runner whose backup reports 42.5 % and waits.
  desktop::TMainFormHooks GatedRun() {
    desktop::TMainFormHooks hooks;
    hooks.RunPlan = [this](const std::string& PlanID, std::string& Message, const TUploadProgress& Progress) {
      TBackupPlanRunner runner(
          Env(), [this](TBackupPlan&, const TUploadProgress& Report, std::string& BackupFile, std::string& Text) {
            Report(425, 1000);
            gate.Wait();
            BackupFile = "Muhasebe_FULL.bak";
            Text = "Yedek tamam.";
            return true;
          });
      return runner.RunBackupPlanById(PlanID, Message, Progress);
    };
    return hooks;
  }
  bool Enabled(const char* Name) { return Find<QToolButton>(Name)->isEnabled(); }
  void PutUpdateDescriptor(const std::string& Version, const std::string& Notes = "") {
    Directory().Write("AppUpdate", devcloud::DatabaseJson{
                                       {"Version", Version}, {"ControlUrl", files.Url("/Calvora")}, {"Notes", Notes}});
    files.Put("/Calvora", test::FakeExecutable(Version));
  }

  TGate gate;
  std::string sqlID;
  test::TFileServer files;
};

TEST_F(BackgroundTest, AManualRunShowsItsProgressLocksTheWindowAndReturnsToIdle) {
  OpenMain(GatedRun());
  Click("ToolButton3");
  EXPECT_EQ(prompts.LastMessage(), "Calistirmak icin bir gorev secin.");

  Select(0);
  prompts.Clear();
  Click("ToolButton3");
  EXPECT_TRUE(main->OperationRunning());
  ASSERT_TRUE(WaitUntil([&] { return Text("lblTransferProgress") == "Yukleme: 42.5%"; }));
  EXPECT_EQ(Find<QProgressBar>("ProgressTransfer")->value(), 425);
  EXPECT_TRUE(Find<QWidget>("PanelTransfer")->isVisible());
  EXPECT_EQ(StatusPanel(1), "Manuel yedekleme baslatildi: Gece SQL");
  for (const char* name : {"ToolButton1", "ToolButton2", "ToolButton3", "ToolButton4", "ToolButton6", "ToolButton7"})
    EXPECT_FALSE(Enabled(name)) << name;
  for (const char* name : {"btnDelete", "btnDownload", "btnService", "btnRestore"}) EXPECT_TRUE(Enabled(name)) << name;
  EXPECT_FALSE(Find<QAction>("miSettings")->isEnabled());

  // One foreground operation at a time ("Baslat" itself is locked); the
  // service's indicator stays quiet meanwhile.
  Click("btnDownload");
  EXPECT_EQ(prompts.LastMessage(), "Devam eden bir islem var.");
  EXPECT_TRUE(prompts.FolderTitles().empty());
  main->RefreshBackgroundIndicator();
  EXPECT_EQ(Text("lblTransferProgress"), "Yukleme: 42.5%");

  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return !main->OperationRunning(); }));
  EXPECT_FALSE(Find<QWidget>("PanelTransfer")->isVisible());
  EXPECT_EQ(Text("lblTransferProgress"), "Aktarim: bekliyor");
  EXPECT_EQ(Find<QProgressBar>("ProgressTransfer")->value(), 0);
  EXPECT_TRUE(Enabled("ToolButton3"));
  EXPECT_TRUE(Find<QAction>("miSettings")->isEnabled());
  EXPECT_EQ(prompts.LastMessage(), "Yedek tamam.");
  EXPECT_EQ(StatusPanel(1), "Toplam 3 gorev, aktif 3 gorev");
  // The run's outcome, stored by the runner, is shown after the refresh.
  auto* details = Find<QWidget>("ListViewVersions");
  EXPECT_EQ(test::RowText(details, 16, 1), "Başarılı");
  EXPECT_EQ(test::RowText(details, 17, 1), "Muhasebe_FULL.bak");
}

TEST_F(BackgroundTest, AWorkerThatThrowsEndsAsAFailureAndTheWindowGoesIdle) {
  desktop::TMainFormHooks hooks;
  hooks.RunPlan = [](const std::string&, std::string&, const TUploadProgress&) -> bool {
    throw std::runtime_error("disk okunamadi");
  };
  std::vector<std::string> destinations;
  hooks.DownloadPlan = [&](const TBackupPlan&, const std::string& DestDir, std::string&,
                           const TUploadProgress& Progress) -> bool {
    destinations.push_back(DestDir);
    Progress(0, 0);
    throw 42;  // not even a standard exception
  };
  test::TLogCapture log;
  OpenMain(hooks);
  Select(0);
  Click("ToolButton3");
  ASSERT_TRUE(WaitUntil([&] { return !main->OperationRunning(); }));
  EXPECT_EQ(prompts.LastMessage(), "Gorev calistirilamadi: disk okunamadi");
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Manuel yedekleme istisnasi"));
  EXPECT_TRUE(Enabled("ToolButton3"));

  // Downloads: the folder plan is refused, the Firebird plan asks for a
  // folder, a cancelled picker changes nothing.
  Select(1);
  Click("btnDownload");
  EXPECT_EQ(prompts.LastMessage(), "Indirme ozelligi simdilik SQL yedek dosyalari icin kullanilir.");
  Select(2);
  Click("btnDownload");
  EXPECT_EQ(prompts.FolderTitles(), (std::vector<std::string>{"Yedeklerin indirilecegi klasoru secin"}));
  EXPECT_FALSE(main->OperationRunning());
  EXPECT_FALSE(Find<QWidget>("PanelTransfer")->isVisible());
  EXPECT_TRUE(destinations.empty());

  prompts.AnswerFolder(testEnv->Root());
  Click("btnDownload");
  ASSERT_TRUE(WaitUntil([&] { return !main->OperationRunning(); }));
  EXPECT_EQ(destinations, (std::vector<std::string>{testEnv->Root()}));
  EXPECT_EQ(prompts.LastMessage(), "Yedek indirme tamamlanamadi: Beklenmeyen hata");
  EXPECT_FALSE(Find<QWidget>("PanelTransfer")->isVisible());
}

TEST_F(BackgroundTest, UpdateChecksManualAutomaticAndNeverUnderARun) {
  PutUpdateDescriptor(CALVORA_VERSION);
  // The automatic check at start: silent when nothing is newer, once a day.
  OpenMain(GatedRun());
  EXPECT_TRUE(prompts.Messages().empty());
  EXPECT_FALSE(ShouldCheckUpdatesToday(Env(), kUpdateKeyControl));
  main.reset();
  const auto reads = cloud.Reads("AppUpdate");
  OpenMain(GatedRun());
  EXPECT_EQ(cloud.Reads("AppUpdate"), reads);

  Trigger("miCheckUpdates");
  ASSERT_TRUE(main->WaitForWorkers(20000));
  ASSERT_EQ(prompts.Messages().size(), 1u);
  EXPECT_EQ(prompts.Messages()[0].Kind, desktop::TMessageKind::Information);
  EXPECT_EQ(prompts.LastMessage(), "Uygulama güncel. (v" + GetCurrentVersionText() + ")");

  // One check at a time.
  cloud.Cloud().InjectDelay("GET", "AppUpdate", 1, 1000);
  Trigger("miCheckUpdates");
  Trigger("miCheckUpdates");
  EXPECT_EQ(prompts.LastMessage(), "Guncelleme kontrolu zaten suruyor.");
  ASSERT_TRUE(main->WaitForWorkers(20000));

  // A newer version found during a run is offered when the run has ended;
  // No leaves the program as it was.
  PutUpdateDescriptor("9.0.0.0", "Hizli yukleme");
  const std::string before = test::ReadFile(exePath);
  Select(0);
  Click("ToolButton3");
  Trigger("miCheckUpdates");
  ASSERT_TRUE(WaitUntil([&] { return !main->UpdateCheckRunning(); }));
  EXPECT_TRUE(prompts.Questions().empty());
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return !prompts.Questions().empty(); }));
  EXPECT_EQ(prompts.Questions()[0],
            "Yeni sürüm bulundu: 9.0.0.0\r\nHizli yukleme\r\n\r\nŞimdi güncellensin mi? Uygulama yeniden "
            "başlatılacak.");
  ASSERT_TRUE(main->WaitForWorkers(20000));
  EXPECT_EQ(test::ReadFile(exePath), before);
  EXPECT_EQ(files.Hits("/Calvora"), 0);
  EXPECT_EQ(prompts.QuitCount(), 0);

  // Yes replaces the program and starts it again.
  prompts.AnswerConfirm(true);
  Trigger("miCheckUpdates");
  ASSERT_TRUE(WaitUntil([&] { return prompts.QuitCount() == 1; }));
  EXPECT_EQ(GetFileVersionText(exePath), "9.0.0.0");
  ASSERT_EQ(runner.Detached().size(), 1u);
  EXPECT_EQ(runner.Detached()[0].program, exePath);
}

TEST_F(BackgroundTest, SavedSignInIsCheckedOffTheWindowAndOnlyARejectionSignsOut) {
  OpenMain();
  const auto reads = [&] { return cloud.Reads("Lisanslar"); };
  const auto before = reads();
  main->UpdateStatusBar();  // just signed in: nothing to check yet
  ASSERT_TRUE(main->WaitForWorkers(20000));
  EXPECT_EQ(reads(), before);

  // The directory is slow and then unreachable: the window does not wait,
  // keeps the sign-in and says so in the status bar.
  Clock().AdvanceSeconds(121);
  devcloud::FaultRule slow;
  slow.kind = devcloud::FaultRule::Kind::Delay;
  slow.pathPattern = "Lisanslar";
  slow.delayMs = 1500;
  slow.remaining = 1;
  cloud.Cloud().AddFault(slow);
  cloud.Cloud().InjectStatus("GET", "Lisanslar", 100, 503);
  QElapsedTimer timer;
  timer.start();
  main->UpdateStatusBar();
  EXPECT_LT(timer.elapsed(), 1000);
  ASSERT_TRUE(main->WaitForWorkers(30000));
  EXPECT_EQ(StatusPanel(2), "Aktif Hesap: Ali Ltd (ali) - hesap kontrol edilemedi");
  EXPECT_TRUE(HasSavedSignIn(Env()));
  EXPECT_EQ(prompts.QuitCount(), 0);
  EXPECT_TRUE(prompts.Messages().empty());

  // At most one check a minute, then it is tried again.
  const auto afterFailure = reads();
  main->UpdateStatusBar();
  ASSERT_TRUE(main->WaitForWorkers(20000));
  EXPECT_EQ(reads(), afterFailure);
  cloud.Cloud().ClearFaults();
  Clock().AdvanceSeconds(121);
  main->UpdateStatusBar();
  ASSERT_TRUE(main->WaitForWorkers(20000));
  EXPECT_EQ(StatusPanel(2), "Aktif Hesap: Ali Ltd (ali)");

  // A changed password is a rejection: signed out and the program ends.
  Directory().Write("Lisanslar/musteri1/Sifre", devcloud::DatabaseJson("yeni parola"));
  Clock().AdvanceSeconds(121);
  main->UpdateStatusBar();
  ASSERT_TRUE(main->WaitForWorkers(20000));
  ASSERT_EQ(prompts.Messages().size(), 1u);
  EXPECT_EQ(prompts.Messages()[0].Kind, desktop::TMessageKind::Error);
  EXPECT_EQ(prompts.LastMessage(), "Hatali sifre.");
  EXPECT_FALSE(HasSavedSignIn(Env()));
  EXPECT_EQ(prompts.QuitCount(), 1);
}

}  // namespace
}  // namespace calvora
