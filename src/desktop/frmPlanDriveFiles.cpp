#include "desktop/frmPlanDriveFiles.h"

#include "desktop/DesktopText.h"
#include "desktop/DesktopWidgets.h"
#include "desktop/frmDriveFileRevisions.h"
#include "foundation/DateTime.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>

namespace calvora::desktop {
namespace {

std::string OneDecimal(double Value) { return S(QLocale().toString(Value, 'f', 1)); }

std::string ListTime(TDateTime Value) {
  if (Value <= 0) return "-";
  const TDateTimeParts p = DecodeDateTime(Value);
  return Fmt("%02d.%02d.%04d %02d:%02d", p.day, p.month, p.year, p.hour, p.minute);
}

// The hourglass for as long as the loop runs, however it ends.
struct TWaitCursor {
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

}  // namespace

TEngineFactory DefaultEngineFactory(TEnv& Env) {
  return [&Env] { return std::make_unique<TCloudBackupService>(Env.Config().GetMSSQLBackupConfig(), Env); };
}

std::string DriveSizeText(std::int64_t Bytes) {
  constexpr double KB = 1024.0, MB = KB * 1024, GB = MB * 1024;
  const double n = static_cast<double>(Bytes);
  if (n >= GB) return OneDecimal(n / GB) + " GB";
  if (n >= MB) return OneDecimal(n / MB) + " MB";
  if (Bytes < 1024) return std::to_string(Bytes) + " B";
  return OneDecimal(n / KB) + " KB";
}

std::string DriveFileCaption(const TDriveFileInfo& File) { return IsBlank(File.RelativePath) ? File.Name : File.RelativePath; }

std::string DriveFileType(const std::string& Name) {
  const std::string ext = ExtractFileExt(Name);
  return ext.empty() ? std::string() : S(Q(ext.substr(1)).toUpper());
}

TPlanDriveFilesForm::TPlanDriveFilesForm(TEnv& Env, TDesktopPrompts& Prompts, const TBackupPlan& Plan,
                                         QWidget* Parent, TEngineFactory Engines)
    : QWidget(Parent, Qt::Window),
      FEnv(Env),
      FPrompts(Prompts),
      FEngines(Engines ? std::move(Engines) : DefaultEngineFactory(Env)),
      FPlan(Plan) {
  BuildWindow();
  ListBackups();
}

TPlanDriveFilesForm::~TPlanDriveFilesForm() = default;

TPlanDriveFilesForm* TPlanDriveFilesForm::OpenForPlan(TEnv& Env, TDesktopPrompts& Prompts, const TBackupPlan& Plan) {
  auto* form = new TPlanDriveFilesForm(Env, Prompts, Plan);
  form->setAttribute(Qt::WA_DeleteOnClose);
  form->show();
  return form;
}

void TPlanDriveFilesForm::BuildWindow() {
  setObjectName("PlanDriveFilesForm");
  setWindowTitle(Q("Bulut Yedek Dosyalari - " + FPlan.Name));
  resize(1040, 700);
  const TBrowseFrame frame =
      BuildBrowseFrame(this, "Bulut Yedek Dosyalari", {"Dosya", "Boyut", "Degistirilme", "Tip"}, {520, 130, 190, 110});
  FInfoLabel = frame.Info;
  FStatusLabel = frame.Status;
  FListView = frame.List;
  FCloseButton = frame.Close;
  FListView->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  FDownloadButton = AddBandButton(frame, "FDownloadButton", "Secileni Indir");
  FDownloadAllButton = AddBandButton(frame, "FDownloadAllButton", "Tumunu Indir");
  FRevisionsButton = AddBandButton(frame, "FRevisionsButton", "Surumler...");
  FRefreshButton = AddBandButton(frame, "FRefreshButton", "Yenile");
  FDownloadButton->setDefault(true);
  SetStatus(PlanTargetName(FPlan) + " icin bulut yedekleri listeleniyor.");

  connect(FDownloadButton, &QPushButton::clicked, this, &TPlanDriveFilesForm::DownloadSelected);
  connect(FDownloadAllButton, &QPushButton::clicked, this, &TPlanDriveFilesForm::DownloadAll);
  connect(FRevisionsButton, &QPushButton::clicked, this, &TPlanDriveFilesForm::OpenRevisions);
  connect(FRefreshButton, &QPushButton::clicked, this, &TPlanDriveFilesForm::ListBackups);
  connect(FListView, &QTreeWidget::itemSelectionChanged, this, &TPlanDriveFilesForm::UpdateButtons);
  connect(FListView, &QTreeWidget::itemDoubleClicked, this, [this] { DownloadSelected(); });
}

void TPlanDriveFilesForm::SetStatus(const std::string& Text) { FStatusLabel->setText(Q(Text)); }

void TPlanDriveFilesForm::ListBackups() {
  if (FDownloading) return;
  SetStatus("Bulut dosyalari okunuyor...");
  FFiles.clear();
  std::string message;
  const bool ok = FEngines()->ListPlanDriveBackups(FPlan, FFiles, message);
  if (!ok) {
    FFiles.clear();
    SetStatus(message);
  } else if (!message.empty()) {
    SetStatus(message);
  } else {
    SetStatus(Fmt("%d dosya bulundu. Cift tiklayarak indirebilirsiniz.", static_cast<int>(FFiles.size())));
  }
  FillList();
}

void TPlanDriveFilesForm::FillList() {
  FListView->setUpdatesEnabled(false);
  FListView->clear();
  for (size_t i = 0; i < FFiles.size(); ++i) {
    const TDriveFileInfo& file = FFiles[i];
    auto* item = new QTreeWidgetItem(FListView);
    item->setText(0, Q(DriveFileCaption(file)));
    item->setText(1, Q(DriveSizeText(file.Size)));
    item->setText(2, Q(ListTime(file.ModifiedTime)));
    item->setText(3, Q(DriveFileType(file.Name)));
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    item->setData(0, Qt::UserRole, static_cast<int>(i));
  }
  FListView->setUpdatesEnabled(true);
  UpdateButtons();
}

void TPlanDriveFilesForm::UpdateButtons() {
  const bool selected = !FListView->selectedItems().isEmpty();
  FDownloadButton->setEnabled(selected && !FDownloading);
  FRevisionsButton->setEnabled(selected);
  FDownloadAllButton->setEnabled(!FFiles.empty() && !FDownloading);
  FRefreshButton->setEnabled(!FDownloading);
}

bool TPlanDriveFilesForm::TryGetSelected(TDriveFileInfo& File) const {
  const QList<QTreeWidgetItem*> items = FListView->selectedItems();
  if (items.isEmpty()) return false;
  const int index = items.front()->data(0, Qt::UserRole).toInt();
  if (index < 0 || static_cast<size_t>(index) >= FFiles.size()) return false;
  File = FFiles[index];
  return true;
}

std::string TPlanDriveFilesForm::ChooseFolder() {
  const std::string folder = FPrompts.PickFolder(this, kPickFolderTitle);
  return IsBlank(folder) ? std::string() : folder;
}

bool TPlanDriveFilesForm::TargetFor(const std::string& Folder, const TDriveFileInfo& File, std::string& Target) {
  std::string message;
  if (TCloudBackupService::MakeUniqueTargetPath(Folder, DriveFileCaption(File), Target, message)) return true;
  FPrompts.Message(this, TMessageKind::Error, message);
  return false;
}

void TPlanDriveFilesForm::DownloadSelected() {
  if (FDownloading) return;  // a double-click while "Tumunu Indir" runs
  TDriveFileInfo file;
  if (!TryGetSelected(file)) {
    FPrompts.Message(this, TMessageKind::Information, "Indirmek icin bir dosya secin.");
    return;
  }
  const std::string folder = ChooseFolder();
  if (folder.empty()) return;
  std::string target;
  if (!TargetFor(folder, file, target)) return;
  SetStatus("Indiriliyor: " + file.Name);
  std::string message;
  const bool ok = FEngines()->DownloadDriveBackupFile(file, target, message);
  SetStatus(ok ? "Indirildi: " + ExtractFileName(target) : std::string("Indirme basarisiz."));
  FPrompts.Message(this, ok ? TMessageKind::Information : TMessageKind::Error, message);
}

void TPlanDriveFilesForm::DownloadAll() {
  if (FDownloading) return;
  if (FFiles.empty()) {
    FPrompts.Message(this, TMessageKind::Information, "Indirilecek dosya bulunamadi.");
    return;
  }
  const std::string folder = ChooseFolder();
  if (folder.empty()) return;

  FDownloading = true;
  FStopRequested = false;
  UpdateButtons();
  int downloaded = 0, failed = 0;
  std::string lastError;
  {
    TWaitCursor cursor;
    // A copy: nothing the user does between files changes what is fetched.
    const std::vector<TDriveFileInfo> files = FFiles;
    const int n = static_cast<int>(files.size());
    try {
      for (int k = 1; k <= n && !FStopRequested; ++k) {
        const TDriveFileInfo& file = files[k - 1];
        SetStatus(Fmt("Indiriliyor (%d/%d): %s", k, n, file.Name));
        QCoreApplication::processEvents();
        std::string target, message;
        const bool ok = TCloudBackupService::MakeUniqueTargetPath(folder, DriveFileCaption(file), target, message) &&
                        FEngines()->DownloadDriveBackupFile(file, target, message);
        if (ok) {
          ++downloaded;
        } else {
          ++failed;
          lastError = message;
        }
      }
    } catch (const std::exception& e) {
      ++failed;
      lastError = e.what();
      LogException("Drive dosyalari indirilirken hata", e);
    }
  }
  FDownloading = false;
  UpdateButtons();

  if (failed > 0) {
    const std::string status = Fmt("%d dosya indirildi, %d dosya basarisiz.", downloaded, failed);
    SetStatus(status);
    FPrompts.Message(this, TMessageKind::Warning,
                     lastError.empty() ? status
                                       : Fmt("%d dosya indirildi, %d dosya basarisiz.%s%s", downloaded, failed,
                                             "\r\n", lastError));
  } else {
    SetStatus(Fmt("%d dosya indirildi.", downloaded));
    FPrompts.Message(this, TMessageKind::Information, Fmt("%d dosya basariyla indirildi.", downloaded));
  }
  if (FCloseWhenDone) close();
}

void TPlanDriveFilesForm::OpenRevisions() {
  TDriveFileInfo file;
  if (!TryGetSelected(file)) {
    FPrompts.Message(this, TMessageKind::Information, "Surumlerini gormek icin bir dosya secin.");
    return;
  }
  TDriveFileRevisionsForm::OpenForFile(FEnv, FPrompts, file, FEngines);
}

void TPlanDriveFilesForm::closeEvent(QCloseEvent* Event) {
  if (!FDownloading) {
    QWidget::closeEvent(Event);
    return;
  }
  // The loop still runs on this window: it must not be freed under it.
  Event->ignore();
  if (FCloseWhenDone) return;
  if (FPrompts.Confirm(this, "Indirme suruyor. Suanki dosyadan sonra durdurulup pencere kapatilsin mi?")) {
    FStopRequested = true;
    FCloseWhenDone = true;
  }
}

}  // namespace calvora::desktop
