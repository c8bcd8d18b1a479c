#include "DesktopTestSupport.h"

#include "desktop/DesktopText.h"
#include "foundation/TextFile.h"
#include "google/uGoogleAuth.h"
#include "plans/uPlanActivityStore.h"
#include "service/uAppUpdater.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFrame>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QToolButton>
#include <QTreeWidget>

namespace calvora {
namespace {

using desktop::S;
using test::RowCount;
using test::RowText;

class MainWindowTest : public test::DesktopTest {
 protected:
  static TBackupPlan SqlPlan() {
    TBackupPlan p;
    p.ID = "{11111111-0000-4000-8000-000000000001}";
    p.Name = "Gece SQL";
    p.Enabled = true;
    p.BackupType = "sql";
    p.DatabaseName = "Muhasebe;Stok";
    p.AutoRun = true;
    p.ScheduleType = "DAILY";
    p.ScheduleTime = "02:00";
    p.UseRarEncryption = true;
    p.DeleteLocalAfterUpload = true;
    p.UploadRetryCount = 3;
    p.LastRunAt = EncodeDateTime(2024, 3, 5, 2, 1, 0);
    p.LastStatus = "Başarılı";
    p.LastBackupFile = "Muhasebe_FULL.bak";
    p.LastMessage = "Yedek yuklendi.";
    return p;
  }
  static TBackupPlan FolderPlan() {
    TBackupPlan p;
    p.ID = "{11111111-0000-4000-8000-000000000002}";
    p.Name = "Belgeler";
    p.Description = "Ofis";
    p.Enabled = false;
    p.BackupType = "folder";
    p.SourceFolder = "/veri/Belgeler";
    p.DriveSubFolder = "Ofis";
    p.AutoRun = true;
    p.ScheduleType = "periodic";
    p.IntervalMinutes = 15;
    p.RunOnServiceStart = true;
    p.UseCompression = false;
    p.ReportEmailAddresses = "patron@firma.tr";
    p.LocalBackupRetentionDays = 7;
    p.CleanupFailedFiles = false;
    return p;
  }
  void Store(const std::vector<TBackupPlan>& Plans) { TBackupPlanStore(Env()).SavePlans(Plans); }
  void Select(int Row) {
    auto* list = Find<QTreeWidget>("ListViewFiles");
    list->setCurrentItem(list->topLevelItem(Row));
  }
  QColor PanelColour() {
    auto* panel = Find<QWidget>("PanelServiceStatus");
    return panel->grab().toImage().pixelColor(4, panel->height() / 2);
  }
};

TEST_F(MainWindowTest, EmptyStateMenuToolbarAndStatusBar) {
  SignIn();
  OpenMain();
  EXPECT_EQ(S(main->windowTitle()), "Orvane Bulut Yedekleme v" + GetCurrentVersionText());
  EXPECT_EQ(RowCount(Find<QWidget>("ListViewFiles")), 0);
  auto* details = Find<QWidget>("ListViewVersions");
  ASSERT_EQ(RowCount(details), 1);
  EXPECT_EQ(RowText(details, 0, 0), "Durum");
  EXPECT_EQ(RowText(details, 0, 1), "Bir gorev secin veya + Yeni ile gorev olusturun.");
  EXPECT_EQ(Text("lblSelectedPlan"), "Plan secilmedi");
  EXPECT_EQ(Text("lblSelectedMeta"), "Soldaki listeden bir plan secerek ayrintilari gorebilirsiniz.");
  EXPECT_EQ(S(Find<QPlainTextEdit>("MemoActivity")->toPlainText()), "Bu plan icin henuz izleme verisi yok.");
  EXPECT_EQ(CardValue("CardTotal"), "0");
  EXPECT_EQ(CardValue("CardActive"), "0");
  EXPECT_EQ(CardValue("CardRunning"), "0");
  EXPECT_EQ(CardValue("CardLastRun"), "-");
  EXPECT_EQ(CardValue("CardDriveQuota"), "Bagli degil");
  EXPECT_FALSE(Find<QWidget>("PanelTransfer")->isVisible());
  EXPECT_EQ(Text("lblTransferProgress"), "Aktarim: bekliyor");
  EXPECT_EQ(StatusPanel(1), "Toplam 0 gorev, aktif 0 gorev");
  EXPECT_EQ(StatusPanel(2), "Aktif Hesap: Ali Ltd (ali)");

  std::vector<std::string> menu;
  for (QAction* action : main->menuBar()->actions()) {
    menu.push_back(S(action->text()));
    if (action->menu())
      for (QAction* item : action->menu()->actions()) menu.push_back("  " + S(item->text()));
  }
  EXPECT_EQ(menu, (std::vector<std::string>{"Dosya", "  Güncellemeleri Denetle", "  Çıkış", "Ayarlar"}));
  std::vector<std::string> tools;
  for (const char* name : {"ToolButton1", "ToolButton2", "ToolButton3", "ToolButton4", "ToolButton6", "ToolButton7",
                           "btnDelete", "btnDownload", "btnService", "btnRestore"})
    tools.push_back(S(Find<QToolButton>(name)->text()));
  EXPECT_EQ(tools, (std::vector<std::string>{"+ Yeni", "Duzenle", "Baslat", "Yenile", "Ayarlar", "Monitor", "Sil",
                                             "Indir", "Servis", "Geri Yükle"}));

  // The restore tool is looked for beside the program.
  Click("btnRestore");
  EXPECT_EQ(prompts.LastMessage(),
            "Geri yükleme uygulaması bulunamadı:\r\n" + testEnv->ProgramDir() + "/CalvoraRestore");
  test::WriteFile(testEnv->ProgramDir() + "/CalvoraRestore", "#!/bin/sh\n");
  Click("btnRestore");
  ASSERT_EQ(runner.Detached().size(), 1u);
  EXPECT_EQ(runner.Detached()[0].program, testEnv->ProgramDir() + "/CalvoraRestore");
  EXPECT_EQ(runner.Detached()[0].workingDirectory, testEnv->ProgramDir());
  EXPECT_TRUE(runner.Detached()[0].arguments.empty());
}

TEST_F(MainWindowTest, PlanListDetailsAndActivityOfTheSelectedPlan) {
  SignIn();
  Store({SqlPlan(), FolderPlan()});
  MarkPlanRunStarted(Env(), SqlPlan());
  Clock().AdvanceSeconds(65);
  ReportPlanRunProgress(Env(), SqlPlan(), "Yukleniyor", "Muhasebe_FULL.bak", false, "Muhasebe_FULL.bak");
  OpenMain();

  auto* plans = Find<QWidget>("ListViewFiles");
  ASSERT_EQ(RowCount(plans), 2);
  EXPECT_EQ(RowText(plans, 0, 0), "Gece SQL");
  EXPECT_EQ(RowText(plans, 0, 1), "Muhasebe, Stok");
  EXPECT_EQ(RowText(plans, 0, 2), "Gunluk 02:00");
  EXPECT_EQ(RowText(plans, 1, 0), "Belgeler (Pasif)");
  EXPECT_EQ(RowText(plans, 1, 2), "15 dk");
  EXPECT_EQ(CardValue("CardTotal"), "2");
  EXPECT_EQ(CardValue("CardActive"), "1");
  EXPECT_EQ(CardValue("CardRunning"), "1");
  EXPECT_EQ(CardValue("CardLastRun"), "05.03.2024 02:01");
  EXPECT_EQ(StatusPanel(1), "Toplam 2 gorev, aktif 1 gorev");
  // The service's own run shows in the transfer band.
  EXPECT_TRUE(Find<QWidget>("PanelTransfer")->isVisible());
  EXPECT_EQ(Text("lblTransferProgress"), "Arka planda calisiyor: Gece SQL - Yukleniyor");

  Select(0);
  desktop::TDetailRows rows;
  auto* details = Find<QWidget>("ListViewVersions");
  for (int i = 0; i < RowCount(details); ++i) rows.emplace_back(RowText(details, i, 0), RowText(details, i, 1));
  EXPECT_EQ(rows, (desktop::TDetailRows{{"Gorev Adi", "Gece SQL"},
                                        {"Backup Turu", "SQL"},
                                        {"Aciklama", "-"},
                                        {"Kaynak", "Muhasebe, Stok"},
                                        {"Gecici Klasor", "(Genel ayar / SQL varsayilani)"},
                                        {"Bulut Alt Klasoru", "-"},
                                        {"Zamanlama", "Gunluk 02:00"},
                                        {"Servis Acilisinda", "Hayir"},
                                        {"Compression", "Acik"},
                                        {"RAR Sifreleme", "Acik"},
                                        {"Rapor Mail Alicilari", "(Tanimli degil)"},
                                        {"Yereli Sil", "Evet"},
                                        {"Yerel Saklama", "Kapali"},
                                        {"Upload Retry", "3"},
                                        {"Basarisiz Dosya Temizligi", "Acik (24 saat)"},
                                        {"Son Calisma", FormatRegionalDateTime(SqlPlan().LastRunAt)},
                                        {"Son Durum", "Başarılı"},
                                        {"Son Dosya", "Muhasebe_FULL.bak"},
                                        {"Mesaj", "Yedek yuklendi."}}));
  EXPECT_EQ(Text("lblSelectedPlan"), "Gece SQL");
  EXPECT_EQ(Text("lblSelectedMeta"), "SQL  \u2022  Muhasebe, Stok  \u2022  Gunluk 02:00  \u2022  Yukleniyor");
  const std::string memo = S(Find<QPlainTextEdit>("MemoActivity")->toPlainText());
  EXPECT_EQ(memo.substr(0, memo.find('\n')), "05.03 10:01  Yukleniyor  Muhasebe_FULL.bak");
  EXPECT_NE(memo.find("\n05.03 10:00  "), std::string::npos) << memo;

  Select(1);
  rows.clear();
  for (int i = 0; i < RowCount(details); ++i) rows.emplace_back(RowText(details, i, 0), RowText(details, i, 1));
  ASSERT_EQ(rows.size(), 19u);
  EXPECT_EQ(rows[4], (std::pair<std::string, std::string>{"Kaynak Klasor", "/veri/Belgeler"}));
  EXPECT_EQ(rows[9], (std::pair<std::string, std::string>{"RAR Sifreleme", "-"}));
  EXPECT_EQ(rows[12], (std::pair<std::string, std::string>{"Yerel Saklama", "7 gun"}));
  EXPECT_EQ(rows[14], (std::pair<std::string, std::string>{"Basarisiz Dosya Temizligi", "Kapali"}));
  EXPECT_EQ(S(Find<QPlainTextEdit>("MemoActivity")->toPlainText()), "Bu plan icin henuz izleme verisi yok.");

  // Another writer removes the first plan: the selection follows its plan;
  // once the selected plan itself is gone nothing is selected.
  Store({FolderPlan()});
  Click("ToolButton4");
  EXPECT_EQ(main->SelectedPlanIndex(), 0);
  EXPECT_EQ(Text("lblSelectedPlan"), "Belgeler");
  Store({SqlPlan()});
  Click("ToolButton4");
  EXPECT_EQ(main->SelectedPlanIndex(), -1);
  EXPECT_EQ(RowText(details, 0, 0), "Durum");
}

TEST_F(MainWindowTest, ServicePanelShowsEachStateInItsColours) {
  OpenMain();
  struct Case {
    const char* state;
    const char* text;
    const char* background;
  } cases[] = {
      {"none", "Kurulu değil", "#8A4442"},       {"inactive", "Durduruldu", "#8A4442"},
      {"activating", "Başlatılıyor", "#C88100"}, {"deactivating", "Durduruluyor", "#C88100"},
      {"active", "Çalışıyor", "#2C6B3A"},        {"deny", "Okunamadi", "#374657"},
  };
  for (const auto& c : cases) {
    SetServiceState(c.state);
    main->UpdateServiceStatusPanel();
    EXPECT_EQ(Text("lblServiceStatusValue"), c.text) << c.state;
    EXPECT_EQ(PanelColour(), QColor(c.background)) << c.state;
  }

  SetServiceState("active");
  prompts.Clear();
  Click("btnService");
  EXPECT_EQ(prompts.LastMessage(),
            "Windows Service durumu: Çalışıyor\r\nKurulum ve baslatma islemlerini Ayarlar ekranindaki Windows "
            "Service sekmesinden yonetebilirsiniz.");
  SetServiceState("deny");
  Click("btnService");
  EXPECT_EQ(prompts.LastMessage(), "Servis durumu okunamadi: Failed to connect to bus: Access denied");
}

// The card reads Drive with the engine's client and never waits on the
// window's thread.
TEST_F(MainWindowTest, QuotaCardMeasuresWithTheAccountsOwnClientOnAWorker) {
  SignIn();
  Google().RegisterClient("hesap-istemcisi", "hesap-sirri");
  Directory().Write("Lisanslar/musteri1/OAuthClientID", devcloud::DatabaseJson("hesap-istemcisi"));
  Directory().Write("Lisanslar/musteri1/OAuthClientSecret", devcloud::DatabaseJson("hesap-sirri"));
  // Expired: only the account's client can renew it.
  SaveGoogleTokens("hesap-istemcisi", -30);
  Google().SetQuotaLimit(1 << 20);
  Google().AddFile("eski.bak", "root", std::string(256 * 1024, 'x'));
  OpenMain();
  EXPECT_EQ(CardValue("CardDriveQuota"), "256.0 KB / 1.0 MB");
  EXPECT_EQ(Find<QProgressBar>("ProgressDriveQuota")->value(), 250);

  cloud.Cloud().InjectDelay("GET", "/drive/v3/about", 1, 1500);
  QElapsedTimer timer;
  timer.start();
  main->UpdateDashboard();
  EXPECT_LT(timer.elapsed(), 1000);
  EXPECT_EQ(CardValue("CardDriveQuota"), "256.0 KB / 1.0 MB");  // the last value stays meanwhile
  EXPECT_EQ(Text("lblDriveQuotaHint"), "Okunuyor...");
  Google().AddFile("yeni.bak", "root", std::string(256 * 1024, 'y'));
  ASSERT_TRUE(main->WaitForWorkers(20000));
  EXPECT_EQ(CardValue("CardDriveQuota"), "512.0 KB / 1.0 MB");
  EXPECT_EQ(Text("lblDriveQuotaHint"), "");

  // A token nobody can renew.
  TGoogleAuth stale(Env(), "hesap-istemcisi", "", 8080, false);
  stale.SetTokenData(TTokenData{"gecersiz", "gecersiz", IncMinutes(Clock().Now(), -30)});
  stale.SaveTokens(testEnv->Config().GetGoogleTokenCachePath());
  main->UpdateDashboard();
  ASSERT_TRUE(main->WaitForWorkers(20000));
  EXPECT_EQ(CardValue("CardDriveQuota"), "Okunamadi");
  EXPECT_EQ(Find<QProgressBar>("ProgressDriveQuota")->value(), 0);
}

TEST_F(MainWindowTest, NewEditAndDeleteKeepWhatTheServiceStoredMeanwhile) {
  SignIn();
  Store({SqlPlan()});
  std::vector<TBackupPlan> handed;
  std::deque<std::function<bool(TBackupPlan&)>> editor;
  desktop::TMainFormHooks hooks;
  hooks.EditPlan = [&](TBackupPlan& Plan) {
    handed.push_back(Plan);
    auto step = editor.front();
    editor.pop_front();
    return step(Plan);
  };
  int settingsShown = 0;
  std::vector<std::string> monitors;
  hooks.ShowSettings = [&] { ++settingsShown; };
  hooks.OpenMonitor = [&](const std::string& PlanID) { monitors.push_back(PlanID); };
  OpenMain(hooks);

  // Cancelled: nothing is stored and no identifier is taken.
  editor.push_back([](TBackupPlan&) { return false; });
  Click("ToolButton1");
  ASSERT_EQ(handed.size(), 1u);
  const TBackupPlan& fresh = handed[0];
  EXPECT_TRUE(fresh.ID.empty());
  EXPECT_TRUE(fresh.Enabled && fresh.AutoRun && fresh.RunOnServiceStart && fresh.UseCompression &&
              fresh.DeleteLocalAfterUpload && fresh.CleanupFailedFiles);
  EXPECT_FALSE(fresh.UseRarEncryption || fresh.EnableDifferential);
  EXPECT_EQ(fresh.BackupType, "sql");
  EXPECT_EQ(fresh.ScheduleType, "periodic");
  EXPECT_EQ(fresh.ScheduleTime, "02:00");
  EXPECT_EQ(fresh.IntervalMinutes, 60);
  EXPECT_EQ(fresh.UploadRetryCount, 2);
  EXPECT_EQ(fresh.FailedFileRetentionHours, 24);
  EXPECT_EQ(fresh.RarSplitVolumeMB, 0);
  EXPECT_EQ(fresh.FullBackupIntervalMinutes, 0);
  EXPECT_EQ(TBackupPlanStore(Env()).LoadPlans().size(), 1u);

  editor.push_back([](TBackupPlan& Plan) {
    Plan.Name = "Yeni Gorev";
    Plan.DatabaseName = "Cari";
    return true;
  });
  Click("ToolButton1");
  std::vector<TBackupPlan> stored = TBackupPlanStore(Env()).LoadPlans();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[1].Name, "Yeni Gorev");
  EXPECT_EQ(stored[1].ID.size(), 38u);
  EXPECT_EQ(main->SelectedPlanIndex(), 1);
  EXPECT_EQ(Text("lblSelectedPlan"), "Yeni Gorev");
  EXPECT_EQ(StatusPanel(1), "Toplam 2 gorev, aktif 2 gorev");

  // The service finishes a run of the first plan after the window loaded it.
  TBackupPlan ran = SqlPlan();
  ran.LastRunAt = EncodeDateTime(2024, 3, 6, 2, 0, 30);
  ran.LastFullBackupAt = ran.LastRunAt;
  ran.LastStatus = "Hatalı";
  ran.LastMessage = "Disk alani yetersiz.";
  ran.LastBackupFile = "Muhasebe_FULL.failed.bak";
  ASSERT_TRUE(TBackupPlanStore(Env()).SavePlanRunFields(ran));
  Select(0);
  editor.push_back([](TBackupPlan& Plan) {
    Plan.Name = "Gece SQL (yeni)";
    return true;
  });
  Click("ToolButton2");
  stored = TBackupPlanStore(Env()).LoadPlans();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].Name, "Gece SQL (yeni)");
  EXPECT_EQ(stored[0].LastRunAt, ran.LastRunAt);
  EXPECT_EQ(stored[0].LastFullBackupAt, ran.LastRunAt);
  EXPECT_EQ(stored[0].LastStatus, "Hatalı");
  EXPECT_EQ(stored[0].LastMessage, "Disk alani yetersiz.");
  EXPECT_EQ(stored[0].LastBackupFile, "Muhasebe_FULL.failed.bak");
  EXPECT_EQ(RowText(Find<QWidget>("ListViewFiles"), 0, 0), "Gece SQL (yeni)");

  Click("ToolButton7");
  Click("btnDelete");
  EXPECT_EQ(prompts.Questions().back(), "Secili SQL yedekleme gorevi silinsin mi?");
  EXPECT_EQ(TBackupPlanStore(Env()).LoadPlans().size(), 2u);  // answered No
  prompts.AnswerConfirm(true);
  Click("btnDelete");
  stored = TBackupPlanStore(Env()).LoadPlans();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].Name, "Yeni Gorev");
  EXPECT_EQ(main->SelectedPlanIndex(), -1);
  Click("ToolButton7");
  EXPECT_EQ(monitors, (std::vector<std::string>{SqlPlan().ID, ""}));

  prompts.Clear();
  Click("ToolButton2");
  Click("btnDelete");
  EXPECT_EQ(prompts.Messages().size(), 2u);
  EXPECT_EQ(prompts.Messages()[0].Text, "Duzenlemek icin bir gorev secin.");
  EXPECT_EQ(prompts.Messages()[1].Text, "Silmek icin bir gorev secin.");
  EXPECT_EQ(handed.size(), 3u);

  Trigger("miSettings");
  EXPECT_EQ(settingsShown, 1);
}

}  // namespace
}  // namespace calvora
