// The main window's creation and layout; refreshes, actions and background
// operations live in the frmMain.*.cpp files beside this one.
#include "desktop/frmMain.h"

#include "desktop/DesktopText.h"
#include "desktop/DesktopWidgets.h"
#include "desktop/frmPlanDriveFiles.h"
#include "desktop/frmPlanMonitor.h"
#include "desktop/frmSQLTaskEdit.h"
#include "desktop/frmSettings.h"
#include "engine/uCloudBackup.h"
#include "foundation/TextFile.h"
#include "foundation/uLogger.h"
#include "platform/paths.h"
#include "runner/uBackupPlanRunner.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace calvora::desktop {
TMainForm::TMainForm(TEnv& Env, TDesktopPrompts& Prompts, TMainFormHooks Hooks, QWidget* Parent)
    : QMainWindow(Parent), FEnv(Env), FPrompts(Prompts), FHooks(std::move(Hooks)) {
  InitLog(FEnv.DataDir());  // the program start did this already; a second call does nothing
  FPlanStore = std::make_unique<TBackupPlanStore>(FEnv);
  FSelectedPlanIndex = -1;
  // The sign-in window has just checked the account.
  FLastSignInCheck = FEnv.Now();
  FWorkers.setMaxThreadCount(4);

  if (!FHooks.EditPlan)
    FHooks.EditPlan = [this](TBackupPlan& Plan) { return TSQLTaskEditForm::Execute(FEnv, FPrompts, Plan, this); };
  if (!FHooks.ShowSettings)
    FHooks.ShowSettings = [this] {
      // Its "Simdi Calistir" goes through this window's one-operation guard.
      TSettingsHooks hooks;
      hooks.OperationRunning = [this] { return FOperationRunning; };
      hooks.RunPlan = [this](const std::string& PlanID, std::string& Message) {
        BeginOperation("Manuel yedekleme baslatildi");
        bool ok = false;
        try {
          ok = FHooks.RunPlan(PlanID, Message, nullptr);
        } catch (const std::exception& e) {
          Message = e.what();
        }
        EndOperation();
        return ok;
      };
      TSettingsForm settings(FEnv, FPrompts, this, std::move(hooks));
      settings.exec();
    };
  if (!FHooks.OpenMonitor)
    FHooks.OpenMonitor = [this](const std::string& PlanID) { TPlanMonitorForm::OpenMonitor(FEnv, PlanID); };
  if (!FHooks.OpenDriveFiles)
    FHooks.OpenDriveFiles = [this](const TBackupPlan& Plan) { TPlanDriveFilesForm::OpenForPlan(FEnv, FPrompts, Plan); };
  if (!FHooks.RunPlan)
    FHooks.RunPlan = [&env = FEnv](const std::string& PlanID, std::string& Message, const TUploadProgress& Progress) {
      return RunBackupPlanById(env, PlanID, Message, Progress);
    };
  if (!FHooks.DownloadPlan)
    FHooks.DownloadPlan = [&env = FEnv](const TBackupPlan& Plan, const std::string& DestDir, std::string& Message,
                                        const TUploadProgress& Progress) {
      TCloudBackupService engine(env.Config().GetMSSQLBackupConfig(), env);
      engine.SetOnDownloadProgress(Progress);
      return engine.DownloadPlanBackups(Plan, DestDir, Message);
    };
  if (FHooks.ExePath.empty()) FHooks.ExePath = platform::ExecutablePath();

  BuildWindow();
  RefreshPlanList();
  UpdateDashboard();
  UpdateStatusBar();
  RefreshBackgroundIndicator();

  FActivityTimer = new QTimer(this);
  FActivityTimer->setInterval(kActivityTimerMs);
  connect(FActivityTimer, &QTimer::timeout, this, [this] {
    RefreshBackgroundIndicator();
    CheckSavedSignInIfDue();  // retries a check the network kept from answering
  });
  FActivityTimer->start();

  CleanupOldExecutables(ExtractFileDir(FHooks.ExePath));
  StartUpdateCheck(false);
}

TMainForm::~TMainForm() {
  FClosing = true;
  FActivityTimer->stop();
  // Queued completions of workers that end now are dropped with the window.
  FWorkers.waitForDone();
}

void TMainForm::BuildWindow() {
  setObjectName("MainForm");
  setWindowTitle(QString(kApplicationTitle) + " v" + Q(GetCurrentVersionText()));
  setFont(DesktopFont(10));
  setStyleSheet(DesktopStyleSheet());
  setMinimumSize(960, 640);
  resize(1280, 800);

  BuildMenu();
  auto* central = new QWidget(this);
  central->setObjectName("PanelClient");
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(BuildHero());
  column->addWidget(BuildToolBar());
  column->addWidget(BuildSummary());
  column->addWidget(BuildBody(), 1);
  column->addWidget(BuildTransferBand());
  setCentralWidget(central);
  BuildStatusBar();
}

void TMainForm::BuildMenu() {
  QMenu* file = menuBar()->addMenu("Dosya");
  file->setObjectName("miFile");
  miExit = new QAction("Çıkış", this);
  miExit->setObjectName("miExit");
  connect(miExit, &QAction::triggered, this, &QWidget::close);
  file->addAction(miExit);
  // Added in code, directly before "Çıkış".
  miCheckUpdates = new QAction("Güncellemeleri Denetle", this);
  miCheckUpdates->setObjectName("miCheckUpdates");
  connect(miCheckUpdates, &QAction::triggered, this, [this] { StartUpdateCheck(true); });
  file->insertAction(miExit, miCheckUpdates);

  miSettings = new QAction("Ayarlar", this);
  miSettings->setObjectName("miSettings");
  connect(miSettings, &QAction::triggered, this, &TMainForm::ToolButton6Click);
  menuBar()->addAction(miSettings);
}

QWidget* TMainForm::BuildHero() {
  PanelHero = new QFrame(this);
  PanelHero->setObjectName("PanelHero");
  PanelHero->setFixedHeight(96);
  PanelHero->setStyleSheet(QString("QFrame#PanelHero { background: %1; }").arg(QString(palette::kHeroBand)));
  auto* row = new QHBoxLayout(PanelHero);
  row->setContentsMargins(24, 12, 16, 12);

  auto* titles = new QVBoxLayout;
  titles->setSpacing(4);
  titles->addStretch();
  titles->addWidget(NewLabel(kApplicationTitle, PanelHero, "lblHeroTitle", DesktopFont(18, true), palette::kHeroText));
  titles->addWidget(NewLabel("SQL yedekleme planlarini tek yerden yonetin, calistirin ve takip edin.", PanelHero,
                             "lblHeroSubtitle", DesktopFont(10), palette::kHeroMuted));
  titles->addStretch();
  row->addLayout(titles, 1);

  PanelServiceStatus = new QFrame(PanelHero);
  PanelServiceStatus->setObjectName("PanelServiceStatus");
  PanelServiceStatus->setFixedWidth(300);
  auto* panel = new QVBoxLayout(PanelServiceStatus);
  panel->setContentsMargins(16, 8, 16, 8);
  panel->setSpacing(2);
  lblServiceStatusTitle = NewLabel("Servis Durumu", PanelServiceStatus, "lblServiceStatusTitle", DesktopFont(9),
                                   palette::kServiceNeutral.Caption);
  lblServiceStatusValue = NewLabel("Kontrol ediliyor...", PanelServiceStatus, "lblServiceStatusValue",
                                   DesktopFont(14, true), palette::kHeroText);
  panel->addWidget(lblServiceStatusTitle);
  panel->addWidget(lblServiceStatusValue);
  SetServicePanel("Kontrol ediliyor...", palette::kServiceNeutral);
  row->addWidget(PanelServiceStatus);
  return PanelHero;
}

QWidget* TMainForm::BuildToolBar() {
  auto* bar = new QToolBar(this);
  bar->setObjectName("ToolBar1");
  bar->setMovable(false);
  bar->setFloatable(false);
  bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  auto add = [&](const char* Name, const char* Caption, void (TMainForm::*Handler)(), int Width, bool Locked) {
    auto* button = new QToolButton(bar);
    button->setObjectName(Name);
    button->setText(Caption);
    button->setAutoRaise(true);
    if (Width > 0) button->setMinimumWidth(Width);
    connect(button, &QToolButton::clicked, this, Handler);
    bar->addWidget(button);
    if (Locked) FLockedButtons.push_back(button);
  };
  add("ToolButton1", "+ Yeni", &TMainForm::ToolButton1Click, 0, true);
  add("ToolButton2", "Duzenle", &TMainForm::ToolButton2Click, 0, true);
  add("ToolButton3", "Baslat", &TMainForm::ToolButton3Click, 0, true);
  add("ToolButton4", "Yenile", &TMainForm::ToolButton4Click, 0, true);
  bar->addSeparator()->setObjectName("ToolButton5");
  add("ToolButton6", "Ayarlar", &TMainForm::ToolButton6Click, 0, true);
  add("ToolButton7", "Monitor", &TMainForm::ToolButton7Click, 0, true);
  // Added in code, after the designed ones.
  add("btnDelete", "Sil", &TMainForm::DeletePlanClick, 70, false);
  add("btnDownload", "Indir", &TMainForm::DownloadBackupsClick, 70, false);
  add("btnService", "Servis", &TMainForm::ServiceStateClick, 70, false);
  add("btnRestore", "Geri Yükle", &TMainForm::RestoreToolClick, 90, false);
  return bar;
}

QFrame* TMainForm::AddCard(QWidget* Row, const char* Name, const char* Caption) {
  auto* card = new QFrame(Row);
  card->setObjectName(Name);
  card->setStyleSheet(QString("QFrame#%1 { background: %2; border: 1px solid %3; border-radius: 6px; }")
                          .arg(QString(Name), QString(palette::kSurface), QString(palette::kBorder)));
  card->setMinimumHeight(84);
  auto* column = new QVBoxLayout(card);
  column->setContentsMargins(16, 10, 16, 10);
  column->setSpacing(4);
  column->addWidget(NewLabel(Caption, card, "Caption", DesktopFont(9), palette::kMuted));
  QLabel* value = NewLabel("-", card, "Value", DesktopFont(16, true), palette::kText);
  value->setTextInteractionFlags(Qt::TextSelectableByMouse);
  column->addWidget(value);
  column->addStretch();
  Row->layout()->addWidget(card);
  return card;
}

QLabel* TMainForm::CardValue(const char* Name) const {
  auto* card = findChild<QFrame*>(Name);
  return card ? card->findChild<QLabel*>("Value") : nullptr;
}

QWidget* TMainForm::BuildSummary() {
  auto* summary = new QFrame(this);
  summary->setObjectName("PanelSummary");
  auto* row = new QHBoxLayout(summary);
  row->setContentsMargins(16, 14, 16, 6);
  row->setSpacing(12);
  AddCard(summary, "CardTotal", "Toplam Plan");
  AddCard(summary, "CardActive", "Aktif Plan");
  AddCard(summary, "CardRunning", "Devam Eden Is");
  AddCard(summary, "CardLastRun", "Son Calisma");
  QFrame* quota = AddCard(summary, "CardDriveQuota", "Bulut Depolama");
  row->setStretchFactor(quota, 2);
  auto* column = static_cast<QVBoxLayout*>(quota->layout());
  ProgressDriveQuota = new QProgressBar(quota);
  ProgressDriveQuota->setObjectName("ProgressDriveQuota");
  ProgressDriveQuota->setRange(0, 1000);
  ProgressDriveQuota->setValue(0);
  ProgressDriveQuota->setTextVisible(false);
  ProgressDriveQuota->setFixedHeight(6);
  column->insertWidget(2, ProgressDriveQuota);
  lblDriveQuotaHint = NewLabel("", quota, "lblDriveQuotaHint", DesktopFont(8), palette::kMuted);
  column->insertWidget(3, lblDriveQuotaHint);
  CardValue("CardDriveQuota")->setFont(DesktopFont(13, true));
  CardValue("CardDriveQuota")->setText("Okunuyor...");
  return summary;
}

QWidget* TMainForm::BuildBody() {
  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->setObjectName("Splitter1");
  splitter->setChildrenCollapsible(false);
  splitter->setHandleWidth(10);

  auto* left = new QWidget(splitter);
  left->setObjectName("PanelPlans");
  auto* leftColumn = new QVBoxLayout(left);
  leftColumn->setContentsMargins(16, 8, 0, 12);
  leftColumn->setSpacing(6);
  leftColumn->addWidget(NewLabel("Yedekleme Planlari", left, "lblPlansTitle", DesktopFont(11, true), palette::kText));
  ListViewFiles = NewReportList(left, "ListViewFiles", {"Gorev", "Kaynak", "Zamanlama"}, {150, 150, 110});
  connect(ListViewFiles, &QTreeWidget::itemSelectionChanged, this, &TMainForm::ListViewFilesSelectItem);
  connect(ListViewFiles, &QTreeWidget::itemDoubleClicked, this, [this] { ListViewFilesDblClick(); });
  leftColumn->addWidget(ListViewFiles);

  auto* right = new QWidget(splitter);
  right->setObjectName("PanelDetails");
  auto* rightColumn = new QVBoxLayout(right);
  rightColumn->setContentsMargins(0, 8, 16, 12);
  rightColumn->setSpacing(8);

  auto* header = new QFrame(right);
  header->setObjectName("PanelSelectedHero");
  header->setStyleSheet(
      QString("QFrame#PanelSelectedHero { background: %1; border: 1px solid %2; border-radius: 6px; }")
          .arg(QString(palette::kSurface), QString(palette::kBorder)));
  auto* headerColumn = new QVBoxLayout(header);
  headerColumn->setContentsMargins(16, 10, 16, 10);
  headerColumn->setSpacing(2);
  headerColumn->addWidget(NewLabel("Plan Detayi", header, "lblSelectedCaption", DesktopFont(9), palette::kMuted));
  lblSelectedPlan = NewLabel("", header, "lblSelectedPlan", DesktopFont(14, true), palette::kText);
  lblSelectedMeta = NewLabel("", header, "lblSelectedMeta", DesktopFont(9), palette::kMuted);
  lblSelectedMeta->setWordWrap(true);
  headerColumn->addWidget(lblSelectedPlan);
  headerColumn->addWidget(lblSelectedMeta);
  rightColumn->addWidget(header);

  ListViewVersions = NewReportList(right, "ListViewVersions", {"Alan", "Deger"}, {180, 520});
  rightColumn->addWidget(ListViewVersions, 3);

  auto* activity = new QFrame(right);
  activity->setObjectName("PanelActivity");
  auto* activityColumn = new QVBoxLayout(activity);
  activityColumn->setContentsMargins(0, 0, 0, 0);
  activityColumn->setSpacing(4);
  activityColumn->addWidget(
      NewLabel("Son Hareketler", activity, "lblActivityTitle", DesktopFont(10, true), palette::kText));
  MemoActivity = new QPlainTextEdit(activity);
  MemoActivity->setObjectName("MemoActivity");
  MemoActivity->setReadOnly(true);
  MemoActivity->setFrameShape(QFrame::NoFrame);
  MemoActivity->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  MemoActivity->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MemoActivity->setMinimumHeight(110);
  activityColumn->addWidget(MemoActivity);
  rightColumn->addWidget(activity, 1);

  splitter->addWidget(left);
  splitter->addWidget(right);
  splitter->setStretchFactor(1, 1);
  // Wide enough for the three plan columns.
  splitter->setSizes({440, 900});
  return splitter;
}

QWidget* TMainForm::BuildTransferBand() {
  PanelTransfer = new QFrame(this);
  PanelTransfer->setObjectName("PanelTransfer");
  PanelTransfer->setFixedHeight(35);
  PanelTransfer->setStyleSheet(QString("QFrame#PanelTransfer { background: %1; border-top: 1px solid %2; }")
                                   .arg(QString(palette::kSurface), QString(palette::kBorder)));
  auto* row = new QHBoxLayout(PanelTransfer);
  row->setContentsMargins(16, 0, 16, 0);
  row->setSpacing(12);
  lblTransferProgress =
      NewLabel("Aktarim: bekliyor", PanelTransfer, "lblTransferProgress", DesktopFont(9, true), palette::kText);
  lblTransferProgress->setMinimumWidth(360);
  ProgressTransfer = new QProgressBar(PanelTransfer);
  ProgressTransfer->setObjectName("ProgressTransfer");
  ProgressTransfer->setRange(0, 1000);
  ProgressTransfer->setValue(0);
  ProgressTransfer->setTextVisible(false);
  ProgressTransfer->setFixedHeight(10);
  row->addWidget(lblTransferProgress);
  row->addWidget(ProgressTransfer, 1);
  PanelTransfer->hide();
  return PanelTransfer;
}

void TMainForm::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName("StatusBar1");
  bar->setSizeGripEnabled(false);
  for (int i = 0; i < 3; ++i) {
    FStatusPanels[i] = new QLabel(bar);
    FStatusPanels[i]->setObjectName(QString("StatusPanel%1").arg(i));
    bar->addWidget(FStatusPanels[i]);
  }
  FStatusPanels[2]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void TMainForm::closeEvent(QCloseEvent* Event) {
  QMainWindow::closeEvent(Event);
  emit Closed();
}

void TMainForm::resizeEvent(QResizeEvent* Event) {
  QMainWindow::resizeEvent(Event);
  UpdateStatusBar();
}

}  // namespace calvora::desktop
