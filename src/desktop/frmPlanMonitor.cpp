#include "desktop/frmPlanMonitor.h"

#include "desktop/DesktopPalette.h"
#include "desktop/DesktopText.h"
#include "desktop/DesktopWidgets.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "runner/uBackupPlanRunner.h"
#include "service/uServiceManager.h"

#include <QFrame>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace calvora::desktop {
namespace {

std::string OrDash(const std::string& Text) { return Text.empty() ? std::string("-") : Text; }

std::string FirstOf(const std::string& A, const std::string& B) { return A.empty() ? B : A; }

}  // namespace

std::string MonitorStateText(const TPlanActivitySnapshot& Activity) {
  if (SameText(Activity.CurrentState, "running")) return "Calisiyor";
  if (SameText(Activity.CurrentState, "success")) return "Tamam";
  if (SameText(Activity.CurrentState, "failed")) return "Hata";
  return Activity.IsRunning ? "Calisiyor" : "Hazir";
}

std::string MonitorUploadStatus(const TBackupPlan& Plan, const TPlanActivitySnapshot& Activity) {
  if (Activity.UploadCompleted) return "Tamamlandi";
  if (Activity.IsRunning && ContainsText(Activity.CurrentStage, "Upload")) return "Suruyor";
  if (Plan.LastStatus == kPlanStatusFailed || SameText(Activity.CurrentState, "failed")) return "Hata";
  if (!Plan.LastBackupFile.empty()) return "Bekleniyor";
  return "Yok";
}

std::string MonitorRelativeTime(TDateTime Value, TDateTime Now) {
  if (Value <= 0) return "-";
  const std::int64_t minutes = MinutesBetween(Value, Now);
  if (minutes == 0) return "simdi";
  if (minutes < 60) return Fmt("%d dk", minutes);
  if (minutes < 1440) return Fmt("%d sa", minutes / 60);
  return Fmt("%d gun", minutes / 1440);
}

std::string MonitorAbsoluteTime(TDateTime Value) { return Value <= 0 ? "-" : FormatRegionalDateTime(Value); }

std::string MonitorScheduleText(const TBackupPlan& Plan) {
  if (!Plan.AutoRun) return "Manuel";
  if (SameText(Plan.ScheduleType, "periodic")) return Fmt("%d dk", Plan.IntervalMinutes);
  return Plan.ScheduleType + " " + Plan.ScheduleTime;
}

TPlanActivitySnapshot MonitorActivityFor(const TBackupPlan& Plan, const std::vector<TPlanActivitySnapshot>& All) {
  for (const TPlanActivitySnapshot& record : All)
    if (SameText(record.PlanID, Plan.ID)) return record;
  return TPlanActivitySnapshot{};
}

TPlanMonitorForm::TPlanMonitorForm(TEnv& Env, const std::string& InitialPlanID, QWidget* Parent)
    : QWidget(Parent, Qt::Window), FEnv(Env), FSelectedPlanID(InitialPlanID) {
  FPlanStore = std::make_unique<TBackupPlanStore>(FEnv);
  BuildWindow();
  Reload();
  FRefreshTimer = new QTimer(this);
  FRefreshTimer->setObjectName("FRefreshTimer");
  FRefreshTimer->setInterval(kRefreshMs);
  connect(FRefreshTimer, &QTimer::timeout, this, &TPlanMonitorForm::Reload);
  FRefreshTimer->start();
}

TPlanMonitorForm::~TPlanMonitorForm() = default;

TPlanMonitorForm* TPlanMonitorForm::OpenMonitor(TEnv& Env, const std::string& InitialPlanID) {
  auto* form = new TPlanMonitorForm(Env, InitialPlanID);
  // Freed on close: a hidden monitor would go on reading files and asking
  // the service manager every 4 seconds until the program ends.
  form->setAttribute(Qt::WA_DeleteOnClose);
  form->show();
  return form;
}

void TPlanMonitorForm::Reload() {
  // The service or the main window may be rewriting a file just now: the
  // window keeps what the last complete read gave.
  try {
    std::vector<TBackupPlan> plans = FPlanStore->LoadPlans();
    std::vector<TPlanActivitySnapshot> activities;
    LoadPlanActivities(FEnv, activities);
    FPlans = std::move(plans);
    FActivities = std::move(activities);
  } catch (const std::exception& e) {
    LogException("Monitor verileri okunamadi", e);
  }
  FillPlanList();
  FillDetails();
}

void TPlanMonitorForm::BuildWindow() {
  setObjectName("PlanMonitorForm");
  setWindowTitle("Orvane Bulut Yedekleme Monitoru");
  setFont(DesktopFont(10));
  setStyleSheet(DesktopStyleSheet() + QString("QWidget#PlanMonitorForm { background: %1; }").arg(QString(palette::kGround)));
  setAttribute(Qt::WA_StyledBackground);
  resize(1280, 820);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(BuildHeader());
  auto* body = new QHBoxLayout;
  body->setContentsMargins(16, 14, 16, 16);
  body->setSpacing(14);
  body->addWidget(BuildLeft());
  body->addWidget(BuildRight(), 1);
  column->addLayout(body, 1);
}

QWidget* TPlanMonitorForm::BuildHeader() {
  auto* header = new QFrame(this);
  header->setObjectName("FHeaderPanel");
  header->setFixedHeight(86);
  header->setStyleSheet(QString("QFrame#FHeaderPanel { background: %1; }").arg(QString(palette::kHeroBand)));
  auto* column = new QVBoxLayout(header);
  column->setContentsMargins(24, 12, 24, 12);
  column->setSpacing(4);
  column->addWidget(NewLabel("Orvane Bulut Yedekleme Monitoru", header, "lblHeaderTitle", DesktopFont(17, true),
                             palette::kHeroText));
  column->addWidget(NewLabel("Secili planin son calisma bilgisi, upload durumu ve son hareketleri tek ekranda izlenir.",
                             header, "lblHeaderSubtitle", DesktopFont(10), palette::kHeroMuted));
  return header;
}

QWidget* TPlanMonitorForm::BuildLeft() {
  auto* left = new QFrame(this);
  left->setObjectName("FLeftPanel");
  // 340 cut the longer plan names of the demo; 20 more show them whole.
  left->setFixedWidth(360);
  left->setStyleSheet(QString("QFrame#FLeftPanel { background: %1; border: 1px solid %2; border-radius: 6px; }")
                          .arg(QString(palette::kSurface), QString(palette::kBorder)));
  auto* column = new QVBoxLayout(left);
  column->setContentsMargins(12, 10, 12, 12);
  column->setSpacing(6);
  column->addWidget(NewLabel("Planlar", left, "FListTitle", DesktopFont(11, true), palette::kText));
  FPlansView = NewReportList(left, "FPlansView", {"Plan", "Durum", "Guncelleme"}, {150, 90, 90});
  // The name takes what the two fixed columns leave, so nothing scrolls sideways.
  FPlansView->header()->setStretchLastSection(false);
  FPlansView->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  FPlansView->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  FPlansView->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  FPlansView->setUniformRowHeights(false);
  connect(FPlansView, &QTreeWidget::itemSelectionChanged, this, &TPlanMonitorForm::PlansViewSelectionChanged);
  column->addWidget(FPlansView);
  return left;
}

QFrame* TPlanMonitorForm::AddCard(QWidget* Row, const char* Name, const char* Caption, QLabel*& Value,
                                  QLabel*& Hint) {
  auto* card = new QFrame(Row);
  card->setObjectName(Name);
  card->setStyleSheet(QString("QFrame#%1 { background: %2; border: 1px solid %3; border-radius: 6px; }")
                          .arg(QString(Name), QString(palette::kSurface), QString(palette::kBorder)));
  card->setMinimumHeight(96);
  auto* column = new QVBoxLayout(card);
  column->setContentsMargins(16, 10, 16, 10);
  column->setSpacing(3);
  column->addWidget(NewLabel(Caption, card, "Caption", DesktopFont(9), palette::kMuted));
  Value = NewLabel("-", card, "Value", DesktopFont(15, true), palette::kText);
  Hint = NewLabel("-", card, "Hint", DesktopFont(9), palette::kMuted);
  // Long file names and stages are cut, never widen the row of cards.
  Value->setMinimumWidth(10);
  Hint->setMinimumWidth(10);
  column->addWidget(Value);
  column->addWidget(Hint);
  column->addStretch();
  Row->layout()->addWidget(card);
  return card;
}

QWidget* TPlanMonitorForm::BuildRight() {
  auto* right = new QWidget(this);
  right->setObjectName("FRightPanel");
  auto* column = new QVBoxLayout(right);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(8);

  auto* cards = new QWidget(right);
  cards->setObjectName("PanelCards");
  auto* row = new QHBoxLayout(cards);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(12);
  AddCard(cards, "CardState", "Durum", FCardStateValue, FCardStateHint);
  AddCard(cards, "CardLastRun", "Son Calisma", FCardLastRunValue, FCardLastRunHint);
  AddCard(cards, "CardUpload", "Upload", FCardUploadValue, FCardUploadHint);
  AddCard(cards, "CardService", "Servis", FCardServiceValue, FCardServiceHint);
  column->addWidget(cards);

  column->addWidget(NewLabel("Plan Detayi", right, "FDetailsTitle", DesktopFont(11, true), palette::kText));
  FDetailsView = NewReportList(right, "FDetailsView", {"Alan", "Deger"}, {180, 630});
  column->addWidget(FDetailsView, 3);

  auto* events = new QFrame(right);
  events->setObjectName("PanelEvents");
  events->setStyleSheet(QString("QFrame#PanelEvents { background: %1; border: 1px solid %2; border-radius: 6px; }")
                            .arg(QString(palette::kSurface), QString(palette::kBorder)));
  auto* eventsColumn = new QVBoxLayout(events);
  eventsColumn->setContentsMargins(12, 10, 12, 12);
  eventsColumn->setSpacing(6);
  eventsColumn->addWidget(NewLabel("Son Hareketler", events, "lblEventsTitle", DesktopFont(11, true), palette::kText));
  FEventsView = NewReportList(events, "FEventsView", {"Saat", "Olay", "Detay"}, {150, 190, 480});
  eventsColumn->addWidget(FEventsView);
  column->addWidget(events, 2);
  return right;
}

void TPlanMonitorForm::FillPlanList() {
  FFilling = true;
  FPlansView->setUpdatesEnabled(false);
  FPlansView->clear();
  const TDateTime now = FEnv.Now();
  QTreeWidgetItem* selected = nullptr;
  for (size_t i = 0; i < FPlans.size(); ++i) {
    const TBackupPlan& plan = FPlans[i];
    auto* item = new QTreeWidgetItem(FPlansView);
    item->setText(0, Q(plan.Name));
    item->setToolTip(0, Q(plan.Name));
    item->setData(0, Qt::UserRole, static_cast<int>(i));
    const auto found = std::find_if(FActivities.begin(), FActivities.end(),
                                    [&](const TPlanActivitySnapshot& a) { return SameText(a.PlanID, plan.ID); });
    if (found != FActivities.end()) {
      item->setText(1, Q(MonitorStateText(*found)));
      item->setText(2, Q(MonitorRelativeTime(found->LastUpdatedAt, now)));
    } else {
      item->setText(1, plan.Enabled ? "Hazir" : "Pasif");
      item->setText(2, Q(MonitorRelativeTime(plan.LastRunAt, now)));
    }
    if (!selected && SameText(plan.ID, FSelectedPlanID)) selected = item;
  }
  if (!selected && FPlansView->topLevelItemCount() > 0) {
    selected = FPlansView->topLevelItem(0);
    FSelectedPlanID = FPlans.front().ID;
    FPlansView->setFocus();
  }
  if (selected) FPlansView->setCurrentItem(selected);
  FPlansView->setUpdatesEnabled(true);
  FFilling = false;
}

void TPlanMonitorForm::PlansViewSelectionChanged() {
  if (FFilling) return;
  const QList<QTreeWidgetItem*> items = FPlansView->selectedItems();
  if (!items.isEmpty()) {
    const int index = items.front()->data(0, Qt::UserRole).toInt();
    if (index >= 0 && static_cast<size_t>(index) < FPlans.size()) FSelectedPlanID = FPlans[index].ID;
  }
  FillDetails();
}

void TPlanMonitorForm::AddDetail(const std::string& Field, const std::string& Value) {
  auto* item = new QTreeWidgetItem(FDetailsView);
  item->setText(0, Q(Field));
  item->setText(1, Q(Value));
}

void TPlanMonitorForm::FillDetails() {
  const int running = static_cast<int>(
      std::count_if(FActivities.begin(), FActivities.end(), [](const TPlanActivitySnapshot& a) { return a.IsRunning; }));
  TServiceRunState state = srsUnknown;
  std::string stateText;
  const std::string service = QueryBackupServiceState(FEnv, state, stateText) ? stateText : "Okunamadi";

  FDetailsView->setUpdatesEnabled(false);
  FEventsView->setUpdatesEnabled(false);
  FDetailsView->clear();
  FEventsView->clear();
  const auto plan = std::find_if(FPlans.begin(), FPlans.end(),
                                 [&](const TBackupPlan& p) { return SameText(p.ID, FSelectedPlanID); });
  if (plan != FPlans.end())
    FillSelectedPlan(*plan, service, running);
  else
    FillNoSelection(service, running);
  FDetailsView->setUpdatesEnabled(true);
  FEventsView->setUpdatesEnabled(true);
}

void TPlanMonitorForm::FillSelectedPlan(const TBackupPlan& Plan, const std::string& ServiceText, int RunningCount) {
  const TPlanActivitySnapshot record = MonitorActivityFor(Plan, FActivities);
  const TDateTime finish = record.LastCompletedAt > 0 ? record.LastCompletedAt : Plan.LastRunAt;
  const std::string upload = MonitorUploadStatus(Plan, record);
  std::string uploadHint = "-";
  if (!record.ActiveFile.empty())
    uploadHint = ExtractFileName(record.ActiveFile);
  else if (!Plan.LastBackupFile.empty())
    uploadHint = ExtractFileName(Plan.LastBackupFile);

  FCardStateValue->setText(Q(MonitorStateText(record)));
  FCardStateHint->setText(Q(record.CurrentStage.empty() ? std::string("Beklemede") : record.CurrentStage));
  FCardLastRunValue->setText(Q(MonitorAbsoluteTime(finish)));
  FCardLastRunHint->setText(Q(MonitorRelativeTime(finish, FEnv.Now())));
  FCardUploadValue->setText(Q(upload));
  FCardUploadHint->setText(Q(uploadHint));
  FCardServiceValue->setText(Q(ServiceText));
  FCardServiceHint->setText(Q(Fmt("%d aktif gorev", RunningCount)));

  AddDetail("Plan", Plan.Name);
  AddDetail("Backup Turu", BackupTypeDisplayName(Plan));
  AddDetail("Kaynak", PlanSourceText(Plan));
  AddDetail("Zamanlama", MonitorScheduleText(Plan));
  AddDetail("Anlik Asama", OrDash(record.CurrentStage));
  AddDetail("Son Baslama", MonitorAbsoluteTime(record.LastStartedAt));
  AddDetail("Son Tamamlanma", MonitorAbsoluteTime(finish));
  AddDetail("Upload Durumu", upload);
  AddDetail("Aktif Dosya", OrDash(record.ActiveFile));
  AddDetail("Son Backup Dosyasi", OrDash(FirstOf(Plan.LastBackupFile, record.LastBackupFile)));
  AddDetail("Son Sonuc", FirstOf(Plan.LastStatus, MonitorStateText(record)));
  AddDetail("Mesaj", OrDash(FirstOf(record.LastMessage, Plan.LastMessage)));
  AddDetail("Yerel Saklama",
            Plan.LocalBackupRetentionDays >= 1 ? Fmt("%d gun", Plan.LocalBackupRetentionDays) : "Kapali");
  AddDetail("Servis Durumu", ServiceText);
  if (record.RecentEvents.empty()) AddDetail("Hareketler", "Bu plan icin henuz hareket kaydi yok.");

  for (auto it = record.RecentEvents.rbegin(); it != record.RecentEvents.rend(); ++it) {
    auto* item = new QTreeWidgetItem(FEventsView);
    item->setText(0, Q(MonitorAbsoluteTime(it->Timestamp)));
    item->setText(1, Q(it->Title));
    item->setText(2, Q(it->Details));
  }
}

void TPlanMonitorForm::FillNoSelection(const std::string& ServiceText, int RunningCount) {
  FCardStateValue->setText("-");
  FCardStateHint->setText("Bir plan secin");
  FCardLastRunValue->setText("-");
  FCardLastRunHint->setText("-");
  FCardUploadValue->setText("-");
  FCardUploadHint->setText("-");
  FCardServiceValue->setText(Q(ServiceText));
  FCardServiceHint->setText(Q(Fmt("%d aktif gorev", RunningCount)));
  AddDetail("Bilgi", "Soldaki listeden bir plan secin.");
}

}  // namespace calvora::desktop
