// The plan monitor: its texts, what it shows of the selected plan, and that
// a closed monitor is gone with its timer.
#include "DesktopTestSupport.h"

#include "desktop/DesktopText.h"
#include "desktop/frmPlanMonitor.h"
#include "foundation/DateTime.h"
#include "plans/uPlanActivityStore.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>

namespace calvora {
namespace {

using desktop::S;
using desktop::TPlanMonitorForm;
using test::RowCount;
using test::RowText;

TEST(MonitorTexts, StateUploadAndRelativeTimeRules) {
  struct StateCase {
    const char* state;
    bool running;
    const char* text;
  };
  for (const StateCase& c : std::initializer_list<StateCase>{{"RUNNING", false, "Calisiyor"},
                                                             {"success", true, "Tamam"},
                                                             {"Failed", false, "Hata"},
                                                             {"", true, "Calisiyor"},
                                                             {"", false, "Hazir"},
                                                             {"bilinmez", false, "Hazir"}}) {
    TPlanActivitySnapshot record;
    record.CurrentState = c.state;
    record.IsRunning = c.running;
    EXPECT_EQ(desktop::MonitorStateText(record), c.text) << c.state << c.running;
  }

  struct UploadCase {
    bool completed, running;
    const char* stage;
    const char* state;
    const char* lastStatus;
    const char* lastFile;
    const char* text;
  };
  for (const UploadCase& c : std::initializer_list<UploadCase>{
           {true, true, "Upload", "failed", "Hatalı", "a.bak", "Tamamlandi"},  // completed wins over all
           {false, true, "Drive Upload", "running", "Hatalı", "a.bak", "Suruyor"},
           {false, false, "Upload", "", "", "a.bak", "Bekleniyor"},  // the stage counts only while running
           {false, false, "", "", "Hatalı", "", "Hata"},
           {false, false, "", "FAILED", "Başarılı", "a.bak", "Hata"},
           {false, false, "", "success", "Başarılı", "a.bak", "Bekleniyor"},
           {false, false, "", "", "", "", "Yok"}}) {
    TBackupPlan plan;
    plan.LastStatus = c.lastStatus;
    plan.LastBackupFile = c.lastFile;
    TPlanActivitySnapshot record;
    record.UploadCompleted = c.completed;
    record.IsRunning = c.running;
    record.CurrentStage = c.stage;
    record.CurrentState = c.state;
    EXPECT_EQ(desktop::MonitorUploadStatus(plan, record), c.text) << c.stage << "/" << c.state << "/" << c.lastStatus;
  }

  const TDateTime now = EncodeDateTime(2024, 3, 5, 12, 0, 0);
  struct TimeCase {
    std::int64_t secondsAgo;
    const char* text;
  };
  for (const TimeCase& c : std::initializer_list<TimeCase>{{30, "simdi"},
                                                           {-30, "simdi"},
                                                           {59 * 60, "59 dk"},
                                                           {61 * 60, "1 sa"},
                                                           {-(61 * 60), "1 sa"},
                                                           {1439 * 60, "23 sa"},
                                                           {25 * 3600, "1 gun"},
                                                           {50 * 86400, "50 gun"}})
    EXPECT_EQ(desktop::MonitorRelativeTime(IncSeconds(now, -c.secondsAgo), now), c.text) << c.secondsAgo;
  EXPECT_EQ(desktop::MonitorRelativeTime(0, now), "-");
  EXPECT_EQ(desktop::MonitorAbsoluteTime(0), "-");
}

class MonitorWindowTest : public test::DesktopTest {
 protected:
  static TBackupPlan Plan(const char* ID, const char* Name) {
    TBackupPlan p;
    p.ID = ID;
    p.Name = Name;
    p.Enabled = true;
    p.BackupType = "sql";
    p.DatabaseName = "Muhasebe";
    return p;
  }
  std::unique_ptr<TPlanMonitorForm> Open(const std::string& PlanID) {
    return std::make_unique<TPlanMonitorForm>(Env(), PlanID);
  }
  static std::string Card(QWidget* Form, const char* Name, const char* Part) {
    auto* card = Form->findChild<QWidget*>(Name);
    auto* label = card ? card->findChild<QLabel*>(Part) : nullptr;
    return label ? S(label->text()) : "<none>";
  }
  static std::string Detail(QWidget* Form, const std::string& Field) {
    auto* list = Form->findChild<QTreeWidget*>("FDetailsView");
    for (int i = 0; i < RowCount(list); ++i)
      if (RowText(list, i, 0) == Field) return RowText(list, i, 1);
    return "<no row " + Field + ">";
  }
};

TEST_F(MonitorWindowTest, NoPlansShowsTheHintAndTheServiceCard) {
  SetServiceState("deny");
  auto form = Open("");
  EXPECT_EQ(S(form->windowTitle()), "Orvane Bulut Yedekleme Monitoru");
  EXPECT_EQ(RowCount(form->findChild<QTreeWidget*>("FPlansView")), 0);
  auto* details = form->findChild<QTreeWidget*>("FDetailsView");
  ASSERT_EQ(RowCount(details), 1);
  EXPECT_EQ(RowText(details, 0, 0), "Bilgi");
  EXPECT_EQ(RowText(details, 0, 1), "Soldaki listeden bir plan secin.");
  EXPECT_EQ(Card(form.get(), "CardState", "Value"), "-");
  EXPECT_EQ(Card(form.get(), "CardState", "Hint"), "Bir plan secin");
  EXPECT_EQ(Card(form.get(), "CardLastRun", "Value"), "-");
  EXPECT_EQ(Card(form.get(), "CardUpload", "Hint"), "-");
  EXPECT_EQ(Card(form.get(), "CardService", "Value"), "Okunamadi");
  EXPECT_EQ(Card(form.get(), "CardService", "Hint"), "0 aktif gorev");
  EXPECT_EQ(RowCount(form->findChild<QTreeWidget*>("FEventsView")), 0);
  EXPECT_EQ(form->RefreshTimer()->interval(), 4000);
  EXPECT_TRUE(form->RefreshTimer()->isActive());
}

TEST_F(MonitorWindowTest, FirstPlanIsSelectedAndTheRunningPlanIsShownLive) {
  SetServiceState("active");
  TBackupPlan nightly = Plan("{33333333-0000-4000-8000-000000000001}", "Gece SQL");
  nightly.AutoRun = true;
  nightly.ScheduleType = "weekly";
  nightly.ScheduleTime = "23:30";
  nightly.LocalBackupRetentionDays = 7;
  nightly.LastRunAt = IncDays(Clock().Now(), -2);
  nightly.LastStatus = "Başarılı";
  nightly.LastBackupFile = "/yedek/Muhasebe_FULL.bak";
  TBackupPlan idle = Plan("{33333333-0000-4000-8000-000000000002}", "Stok");
  idle.Enabled = false;
  idle.LastRunAt = IncMinutes(Clock().Now(), -90);
  TBackupPlanStore(Env()).SavePlans({nightly, idle});
  MarkPlanRunStarted(Env(), nightly);
  Clock().AdvanceSeconds(120);
  ReportPlanRunProgress(Env(), nightly, "Drive Upload", "Yukleniyor", false, "/is/Muhasebe_DIFF.bak");
  Clock().AdvanceSeconds(30);

  auto form = Open("");
  EXPECT_EQ(form->SelectedPlanID(), nightly.ID);
  auto* plans = form->findChild<QTreeWidget*>("FPlansView");
  ASSERT_EQ(RowCount(plans), 2);
  EXPECT_EQ(RowText(plans, 0, 1), "Calisiyor");
  EXPECT_EQ(RowText(plans, 0, 2), "simdi");
  EXPECT_EQ(RowText(plans, 1, 1), "Pasif");  // no record: the stored fields
  EXPECT_EQ(RowText(plans, 1, 2), "1 sa");
  EXPECT_EQ(plans->currentItem(), plans->topLevelItem(0));

  EXPECT_EQ(Card(form.get(), "CardState", "Value"), "Calisiyor");
  EXPECT_EQ(Card(form.get(), "CardState", "Hint"), "Drive Upload");
  EXPECT_EQ(Card(form.get(), "CardUpload", "Value"), "Suruyor");
  EXPECT_EQ(Card(form.get(), "CardUpload", "Hint"), "Muhasebe_DIFF.bak");
  EXPECT_EQ(Card(form.get(), "CardLastRun", "Hint"), "2 gun");  // no completion yet: the plan's last run
  EXPECT_EQ(Card(form.get(), "CardService", "Value"), "Çalışıyor");
  EXPECT_EQ(Card(form.get(), "CardService", "Hint"), "1 aktif gorev");
  EXPECT_EQ(Detail(form.get(), "Zamanlama"), "weekly 23:30");
  EXPECT_EQ(Detail(form.get(), "Anlik Asama"), "Drive Upload");
  EXPECT_EQ(Detail(form.get(), "Aktif Dosya"), "/is/Muhasebe_DIFF.bak");
  EXPECT_EQ(Detail(form.get(), "Son Backup Dosyasi"), "/yedek/Muhasebe_FULL.bak");
  EXPECT_EQ(Detail(form.get(), "Son Sonuc"), "Başarılı");
  EXPECT_EQ(Detail(form.get(), "Yerel Saklama"), "7 gun");
  EXPECT_EQ(Detail(form.get(), "Servis Durumu"), "Çalışıyor");
  EXPECT_EQ(Detail(form.get(), "Hareketler"), "<no row Hareketler>");
  auto* events = form->findChild<QTreeWidget*>("FEventsView");
  ASSERT_GE(RowCount(events), 2);
  EXPECT_EQ(RowText(events, 0, 1), "Drive Upload");  // newest first

  // The run ends; the next reload shows its completion time.
  Clock().AdvanceSeconds(60);
  MarkPlanRunFinished(Env(), nightly, true, "Yedek yuklendi.", true, "/is/Muhasebe_DIFF.bak");
  const TDateTime finished = Clock().Now();
  Clock().AdvanceSeconds(61 * 60);
  form->Reload();
  EXPECT_EQ(Card(form.get(), "CardState", "Value"), "Tamam");
  EXPECT_EQ(Card(form.get(), "CardLastRun", "Value"), FormatRegionalDateTime(finished));
  EXPECT_EQ(Card(form.get(), "CardLastRun", "Hint"), "1 sa");
  EXPECT_EQ(Card(form.get(), "CardService", "Hint"), "0 aktif gorev");
  EXPECT_EQ(Detail(form.get(), "Mesaj"), "Yedek yuklendi.");

  // The other plan, without a record: shown as if its record were empty.
  plans->setCurrentItem(plans->topLevelItem(1));
  EXPECT_EQ(form->SelectedPlanID(), idle.ID);
  EXPECT_EQ(Card(form.get(), "CardState", "Hint"), "Beklemede");
  EXPECT_EQ(Card(form.get(), "CardUpload", "Value"), "Yok");
  EXPECT_EQ(Detail(form.get(), "Zamanlama"), "Manuel");
  EXPECT_EQ(Detail(form.get(), "Hareketler"), "Bu plan icin henuz hareket kaydi yok.");
  EXPECT_EQ(Detail(form.get(), "Son Sonuc"), "Hazir");
  EXPECT_EQ(Detail(form.get(), "Mesaj"), "-");
}

TEST_F(MonitorWindowTest, DeletedSelectedPlanFallsBackToTheFirst) {
  const TBackupPlan a = Plan("{33333333-0000-4000-8000-00000000000A}", "A");
  const TBackupPlan b = Plan("{33333333-0000-4000-8000-00000000000B}", "B");
  TBackupPlanStore(Env()).SavePlans({a, b});
  auto form = Open("{33333333-0000-4000-8000-00000000000b}");  // any case
  EXPECT_EQ(Detail(form.get(), "Plan"), "B");
  TBackupPlanStore(Env()).DeletePlan(b.ID);
  form->Reload();
  EXPECT_EQ(form->SelectedPlanID(), a.ID);
  EXPECT_EQ(Detail(form.get(), "Plan"), "A");
  TBackupPlanStore(Env()).DeletePlan(a.ID);
  form->Reload();
  EXPECT_EQ(Detail(form.get(), "Bilgi"), "Soldaki listeden bir plan secin.");
}

// A closed monitor is freed, its timer with it: nothing goes on reading
// files and asking the service manager every 4 seconds.
TEST_F(MonitorWindowTest, ClosedMonitorIsFreedWithItsTimer) {
  QPointer<TPlanMonitorForm> first = TPlanMonitorForm::OpenMonitor(Env(), "");
  QPointer<TPlanMonitorForm> second = TPlanMonitorForm::OpenMonitor(Env(), "");
  ASSERT_TRUE(first && second);
  EXPECT_NE(first.data(), second.data());
  QPointer<const QTimer> timer = first->RefreshTimer();
  first->close();
  EXPECT_TRUE(WaitUntil([&] { return test::FlushDeletes(), first.isNull(); }));
  EXPECT_TRUE(timer.isNull());
  EXPECT_TRUE(second);
  second->close();
  EXPECT_TRUE(WaitUntil([&] { return test::FlushDeletes(), second.isNull(); }));
}

}  // namespace
}  // namespace calvora
