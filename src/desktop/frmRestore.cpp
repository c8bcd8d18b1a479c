#include "desktop/frmRestore.h"

#include "account/uFirebaseActiveAccount.h"
#include "desktop/DesktopProgram.h"
#include "desktop/DesktopText.h"
#include "desktop/frmAccountLogin.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <cstdio>

namespace calvora::desktop {
namespace {

constexpr const char* kStepTitles[] = {"1. Plan seçin", "2. Yedek seçin", "3. Sürüm seçin", "4. Hedefi belirleyin",
                                       "5. Geri yükleme"};
constexpr const char* kWholeFolder = "(Tüm klasör)";

QListWidget* MakeList(const char* Name) {
  auto* list = new QListWidget;
  list->setObjectName(Name);
  return list;
}

std::string KindText(const TRestorePlan& Plan) {
  switch (Plan.Kind()) {
    case TRestoreKind::Firebird: return "Firebird";
    case TRestoreKind::SqlServer: return "SQL Server";
    case TRestoreKind::Folder: return "Klasör";
  }
  return std::string();
}

}  // namespace

TRestoreForm::TRestoreForm(TEnv& Env, TDesktopPrompts& Prompts, QWidget* Parent)
    : QWidget(Parent), FEnv(Env), FPrompts(Prompts), FRestore(std::make_unique<TRestoreService>(Env)) {
  setObjectName("frmRestore");
  setWindowTitle("Calvora - Geri Yükleme");
  resize(720, 480);
  BuildWidgets();
  ShowStep(StepPlan);
}

TRestoreForm::~TRestoreForm() {
  if (FWorker.joinable()) {
    FRestore->Cancel();
    FWorker.join();
  }
}

void TRestoreForm::BuildWidgets() {
  auto* layout = new QVBoxLayout(this);
  FTitle = new QLabel;
  FTitle->setObjectName("lblStep");
  QFont font = FTitle->font();
  font.setPointSize(font.pointSize() + 3);
  font.setBold(true);
  FTitle->setFont(font);
  layout->addWidget(FTitle);

  FPages = new QStackedWidget;
  FPlanList = MakeList("lstPlans");
  FBackupList = MakeList("lstBackups");
  FVersionList = MakeList("lstVersions");
  FPages->addWidget(FPlanList);
  FPages->addWidget(FBackupList);
  FPages->addWidget(FVersionList);

  auto* target = new QWidget;
  auto* form = new QFormLayout(target);
  FTargetHint = new QLabel;
  FTargetHint->setWordWrap(true);
  form->addRow(FTargetHint);
  auto* row = new QHBoxLayout;
  FTarget = new QLineEdit;
  FTarget->setObjectName("edtTarget");
  FBrowse = new QPushButton("Seç...");
  FBrowse->setObjectName("btnBrowse");
  row->addWidget(FTarget);
  row->addWidget(FBrowse);
  form->addRow("Hedef:", row);
  FDatabaseLabel = new QLabel("Veritabanı adı:");
  FDatabase = new QLineEdit;
  FDatabase->setObjectName("edtDatabase");
  form->addRow(FDatabaseLabel, FDatabase);
  FPasswordLabel = new QLabel("Arşiv şifresi:");
  FPassword = new QLineEdit;
  FPassword->setObjectName("edtPassword");
  FPassword->setEchoMode(QLineEdit::Password);
  form->addRow(FPasswordLabel, FPassword);
  FReplace = new QCheckBox("Var olanın üzerine yaz");
  FReplace->setObjectName("chkReplace");
  form->addRow(FReplace);
  FPages->addWidget(target);

  auto* run = new QWidget;
  auto* runLayout = new QVBoxLayout(run);
  FSummary = new QLabel;
  FSummary->setObjectName("lblSummary");
  FSummary->setWordWrap(true);
  FProgress = new QProgressBar;
  FProgress->setObjectName("prgRestore");
  FProgress->setRange(0, 100);
  FStatus = new QLabel;
  FStatus->setObjectName("lblStatus");
  FStatus->setWordWrap(true);
  runLayout->addWidget(FSummary);
  runLayout->addWidget(FProgress);
  runLayout->addWidget(FStatus);
  runLayout->addStretch();
  FPages->addWidget(run);
  layout->addWidget(FPages, 1);

  auto* buttons = new QHBoxLayout;
  FBackButton = new QPushButton("< Geri");
  FBackButton->setObjectName("btnBack");
  FNextButton = new QPushButton("İleri >");
  FNextButton->setObjectName("btnNext");
  FCloseButton = new QPushButton("Kapat");
  FCloseButton->setObjectName("btnClose");
  buttons->addStretch();
  buttons->addWidget(FBackButton);
  buttons->addWidget(FNextButton);
  buttons->addWidget(FCloseButton);
  layout->addLayout(buttons);

  connect(FBackButton, &QPushButton::clicked, this, [this] { Back(); });
  connect(FNextButton, &QPushButton::clicked, this, [this] { Next(); });
  connect(FCloseButton, &QPushButton::clicked, this, [this] { close(); });
  connect(FBrowse, &QPushButton::clicked, this, [this] { PickTarget(); });
}

TRestoreForm::TStep TRestoreForm::Step() const { return static_cast<TStep>(FPages->currentIndex()); }

void TRestoreForm::ShowStep(TStep Step) {
  FPages->setCurrentIndex(Step);
  FTitle->setText(kStepTitles[Step]);
  FBackButton->setEnabled(Step != StepPlan && !FRunning);
  FNextButton->setText(Step == StepTarget ? "Geri Yükle" : "İleri >");
  FNextButton->setEnabled(Step != StepRestore);
  FCloseButton->setEnabled(!FRunning);
}

void TRestoreForm::LoadPlans() {
  FPlanList->clear();
  std::string message;
  if (!FRestore->LoadPlans(FPlans, message)) {
    FPrompts.Message(this, TMessageKind::Error, "Plan listesi alınamadı: " + message);
    return;
  }
  for (const TRestorePlan& plan : FPlans)
    FPlanList->addItem(Q(plan.Plan.Name + "  [" + KindText(plan) + "]"));
  if (!FPlans.empty()) FPlanList->setCurrentRow(0);
}

const TRestorePlan& TRestoreForm::ChosenPlan() const { return FPlans[static_cast<size_t>(FPlanList->currentRow())]; }

bool TRestoreForm::WholeFolderChosen() const {
  return ChosenPlan().Kind() == TRestoreKind::Folder && FBackupList->currentRow() == 0;
}

bool TRestoreForm::EnterBackups() {
  if (FPlanList->currentRow() < 0 || FPlanList->currentRow() >= static_cast<int>(FPlans.size())) {
    FPrompts.Message(this, TMessageKind::Warning, "Geri yüklemek için bir plan seçin.");
    return false;
  }
  std::string message;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool ok = FRestore->ListBackups(ChosenPlan(), FBackups, message);
  QApplication::restoreOverrideCursor();
  if (!ok) {
    FPrompts.Message(this, TMessageKind::Error, "Yedekler listelenemedi: " + message);
    return false;
  }
  FBackupList->clear();
  if (ChosenPlan().Kind() == TRestoreKind::Folder) FBackupList->addItem(kWholeFolder);
  for (const TRestoreBackup& backup : FBackups)
    FBackupList->addItem(Q(Fmt("%s    %s    %s", backup.RelativePath, FormatDateTime(backup.ModifiedTime),
                               FormatStorageSize(backup.Size))));
  if (FBackupList->count() == 0) {
    FPrompts.Message(this, TMessageKind::Information, message);
    return false;
  }
  FBackupList->setCurrentRow(0);
  return true;
}

bool TRestoreForm::EnterVersions() {
  FVersionList->clear();
  FVersions.clear();
  if (WholeFolderChosen()) {
    FVersionList->addItem("Güncel sürüm (tüm dosyalar)");
    FVersionList->setCurrentRow(0);
    return true;
  }
  const int row = FBackupList->currentRow() - (ChosenPlan().Kind() == TRestoreKind::Folder ? 1 : 0);
  if (row < 0 || row >= static_cast<int>(FBackups.size())) {
    FPrompts.Message(this, TMessageKind::Warning, "Geri yüklemek için bir yedek seçin.");
    return false;
  }
  std::string message;
  if (!FRestore->ListVersions(FBackups[static_cast<size_t>(row)], FVersions, message)) {
    FPrompts.Message(this, TMessageKind::Error, "Sürümler listelenemedi: " + message);
    return false;
  }
  for (const TRestoreVersion& v : FVersions)
    FVersionList->addItem(Q(Fmt("%s    %s    %s", v.Current ? "Güncel" : "Önceki sürüm", FormatDateTime(v.ModifiedTime),
                                FormatStorageSize(v.Size))));
  FVersionList->setCurrentRow(0);
  return true;
}

void TRestoreForm::EnterTarget() {
  const TRestorePlan& plan = ChosenPlan();
  const bool sql = plan.Kind() == TRestoreKind::SqlServer;
  FTarget->setVisible(!sql);
  FBrowse->setVisible(!sql);
  FDatabase->setVisible(sql);
  FDatabaseLabel->setVisible(sql);
  const bool encrypted = plan.ArchiveEncrypted() && !WholeFolderChosen() && plan.Kind() != TRestoreKind::Folder;
  FPassword->setVisible(encrypted);
  FPasswordLabel->setVisible(encrypted);
  switch (plan.Kind()) {
    case TRestoreKind::Firebird:
      FTargetHint->setText("Yedek, adını verdiğiniz yeni bir Firebird veritabanı dosyasına açılır.");
      break;
    case TRestoreKind::SqlServer: {
      FTargetHint->setText("Yedek bu adla SQL Server'a geri yüklenir; farklı bir ad özgün veritabanına dokunmaz.");
      const TRestoreMetadata* metadata = plan.MetadataFor(FBackups.empty() ? "" : FBackups.front().Name);
      if (FDatabase->text().isEmpty() && metadata) FDatabase->setText(Q(metadata->DatabaseName + "_Restore"));
      break;
    }
    case TRestoreKind::Folder:
      FTargetHint->setText("Dosyalar alt klasörleriyle seçtiğiniz klasöre yazılır.");
      break;
  }
}

void TRestoreForm::PickTarget() {
  const std::string folder = FPrompts.PickFolder(this, "Geri yükleme hedef klasörü");
  if (folder.empty()) return;
  if (ChosenPlan().Kind() == TRestoreKind::Firebird) {
    const int row = FBackupList->currentRow();
    const std::string name = row >= 0 && row < static_cast<int>(FBackups.size())
                                 ? ChangeFileExt(FBackups[static_cast<size_t>(row)].Name, "")
                                 : std::string("YEDEK_");
    FTarget->setText(Q(JoinPath(folder, name + "RESTORE.FDB")));
  } else {
    FTarget->setText(Q(folder));
  }
}

void TRestoreForm::Next() {
  switch (Step()) {
    case StepPlan:
      if (EnterBackups()) ShowStep(StepBackup);
      break;
    case StepBackup:
      if (EnterVersions()) ShowStep(StepVersion);
      break;
    case StepVersion:
      if (FVersionList->currentRow() < 0) return;
      EnterTarget();
      ShowStep(StepTarget);
      break;
    case StepTarget:
      StartRestore(FReplace->isChecked());
      break;
    case StepRestore:
      break;
  }
}

void TRestoreForm::Back() {
  if (FRunning || Step() == StepPlan) return;
  ShowStep(static_cast<TStep>(Step() - 1));
}

void TRestoreForm::StartRestore(bool ReplaceExisting) {
  const TRestorePlan& plan = ChosenPlan();
  const std::string target = Trim(S(FTarget->text()));
  if (plan.Kind() != TRestoreKind::SqlServer && target.empty()) {
    FPrompts.Message(this, TMessageKind::Warning, "Geri yükleme hedefini belirleyin.");
    return;
  }
  FRequest = TRestoreRequest();
  FRequest.Plan = plan;
  if (!WholeFolderChosen()) {
    const int row = FBackupList->currentRow() - (plan.Kind() == TRestoreKind::Folder ? 1 : 0);
    FRequest.Backup = FBackups[static_cast<size_t>(row)];
    const TRestoreVersion& version = FVersions[static_cast<size_t>(FVersionList->currentRow())];
    FRequest.RevisionID = version.Current ? std::string() : version.RevisionID;
  }
  FRequest.TargetPath = target;
  FRequest.DatabaseName = Trim(S(FDatabase->text()));
  FRequest.ArchivePassword = S(FPassword->text());
  FRequest.ReplaceExisting = ReplaceExisting;

  FSummary->setText(Q(Fmt("Plan: %s\nYedek: %s\nHedef: %s", plan.Plan.Name,
                          FRequest.Backup.Files.empty() ? kWholeFolder : FRequest.Backup.RelativePath,
                          plan.Kind() == TRestoreKind::SqlServer ? FRequest.DatabaseName : target)));
  FProgress->setValue(0);
  FStatus->setText("Geri yükleme başladı.");
  FRunning = true;
  ShowStep(StepRestore);
  if (FWorker.joinable()) FWorker.join();
  FRestore->SetOnProgress([this](const TRestoreProgress& p) {
    QMetaObject::invokeMethod(this, [this, p] { ProgressArrived(p); }, Qt::QueuedConnection);
  });
  FWorker = std::thread([this, request = FRequest, ReplaceExisting] {
    TRestoreResult result = FRestore->Restore(request);
    QMetaObject::invokeMethod(this, [this, result, ReplaceExisting] { RestoreFinished(result, ReplaceExisting); },
                              Qt::QueuedConnection);
  });
}

void TRestoreForm::ProgressArrived(const TRestoreProgress& Progress) {
  FStatus->setText(Q(Progress.Text));
  if (Progress.Total > 0) FProgress->setValue(static_cast<int>(Progress.Done * 100 / Progress.Total));
}

void TRestoreForm::RestoreFinished(const TRestoreResult& Result, bool ReplaceExisting) {
  if (FWorker.joinable()) FWorker.join();
  FRunning = false;
  FLastResult = Result;
  FStatus->setText(Q(Result.Message));
  if (Result.Success) {
    FProgress->setValue(100);
    ShowStep(StepRestore);
    FPrompts.Message(this, TMessageKind::Information, "Geri yükleme tamamlandı.\r\n" + Result.Message);
    return;
  }
  if (!Result.Conflicts.empty() && !ReplaceExisting &&
      FPrompts.Confirm(this, Result.Message + "\r\nÜzerine yazılsın mı?")) {
    FReplace->setChecked(true);
    StartRestore(true);
    return;
  }
  ShowStep(StepRestore);
  FBackButton->setEnabled(true);
  FPrompts.Message(this, TMessageKind::Error, "Geri yükleme başarısız.\r\n" + Result.Message);
}

void TRestoreForm::WaitForRestore() {
  while (FRunning) {
    if (FWorker.joinable()) FWorker.join();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
}

void TRestoreForm::closeEvent(QCloseEvent* Event) {
  if (FRunning) {
    FRestore->Cancel();
    WaitForRestore();
  }
  QWidget::closeEvent(Event);
  emit Closed();
}

int RunRestoreProgram(int argc, char** argv) {
  if (!HasDisplay()) {
    std::fprintf(stderr, "CalvoraRestore: pencereleri gosterecek bir ekran yok (DISPLAY tanimli degil).\n");
    return 1;
  }
  QApplication application(argc, argv);
  SetUpDesktopApplication();
  TQtDesktopPrompts prompts;
  TEnv& env = TEnv::Process();
  try {
    InitLog(env.DataDir());
    TAccountCredentials saved;
    if (!LoadSavedSignIn(env, saved)) {
      TAccountLoginForm login(env, prompts);
      if (!login.Execute()) return 0;
    }
    TRestoreForm form(env, prompts);
    QObject::connect(&form, &TRestoreForm::Closed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    form.show();
    form.LoadPlans();
    return QApplication::exec();
  } catch (const std::exception& e) {
    LogException("Geri yukleme uygulamasi baslatilamadi", e);
    prompts.Message(nullptr, TMessageKind::Error, std::string("Geri yükleme uygulaması başlatılamadı: ") + e.what());
    return 1;
  }
}

}  // namespace calvora::desktop
