#include "desktop/frmDriveFileRevisions.h"

#include "desktop/DesktopText.h"
#include "desktop/DesktopWidgets.h"
#include "engine/uCloudBackup.h"
#include "foundation/DateTime.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

namespace calvora::desktop {
namespace {

std::string RevisionTime(TDateTime Value) {
  if (Value <= 0) return "-";
  const TDateTimeParts p = DecodeDateTime(Value);
  return Fmt("%02d.%02d.%04d %02d:%02d:%02d", p.day, p.month, p.year, p.hour, p.minute, p.second);
}

// Clears the flag however the operation ends.
struct TBusyScope {
  explicit TBusyScope(bool& Flag) : flag(Flag) { flag = true; }
  ~TBusyScope() { flag = false; }
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;
  bool& flag;
};

}  // namespace

TDriveFileRevisionsForm::TDriveFileRevisionsForm(TEnv& Env, TDesktopPrompts& Prompts, const TDriveFileInfo& FileInfo,
                                                 QWidget* Parent, TEngineFactory Engines)
    : QWidget(Parent, Qt::Window),
      FEnv(Env),
      FPrompts(Prompts),
      FEngines(Engines ? std::move(Engines) : DefaultEngineFactory(Env)),
      FFileInfo(FileInfo) {
  BuildWindow();
  ListRevisions();
}

TDriveFileRevisionsForm::~TDriveFileRevisionsForm() = default;

TDriveFileRevisionsForm* TDriveFileRevisionsForm::OpenForFile(TEnv& Env, TDesktopPrompts& Prompts,
                                                              const TDriveFileInfo& FileInfo, TEngineFactory Engines) {
  auto* form = new TDriveFileRevisionsForm(Env, Prompts, FileInfo, nullptr, std::move(Engines));
  form->setAttribute(Qt::WA_DeleteOnClose);
  form->show();
  return form;
}

void TDriveFileRevisionsForm::BuildWindow() {
  setObjectName("DriveFileRevisionsForm");
  setWindowTitle(Q("Bulut Surumleri - " + FFileInfo.Name));
  resize(820, 540);
  const TBrowseFrame frame = BuildBrowseFrame(this, "Dosya Surumleri", {"#", "Tarih", "Boyut", "Surum Kimligi", "Saklanan"},
                                              {50, 200, 130, 220, 100});
  FInfoLabel = frame.Info;
  FStatusLabel = frame.Status;
  FListView = frame.List;
  FCloseButton = frame.Close;
  FListView->header()->setSectionResizeMode(3, QHeaderView::Stretch);
  // Identifiers are long: both ends stay readable, the whole one is a hover away.
  FListView->setTextElideMode(Qt::ElideMiddle);
  FListView->setUniformRowHeights(false);
  FDownloadButton = AddBandButton(frame, "FDownloadButton", "Bu Surumu Indir");
  FPinButton = AddBandButton(frame, "FPinButton", "Kalici Sakla");
  FRefreshButton = AddBandButton(frame, "FRefreshButton", "Yenile");
  FDownloadButton->setDefault(true);
  FPinButton->setMinimumWidth(150);
  SetStatus(FFileInfo.Name + " icin sürümler listeleniyor.");

  connect(FDownloadButton, &QPushButton::clicked, this, &TDriveFileRevisionsForm::DownloadSelected);
  connect(FPinButton, &QPushButton::clicked, this, &TDriveFileRevisionsForm::TogglePin);
  connect(FRefreshButton, &QPushButton::clicked, this, &TDriveFileRevisionsForm::ListRevisions);
  connect(FListView, &QTreeWidget::itemSelectionChanged, this, &TDriveFileRevisionsForm::UpdateButtons);
  connect(FListView, &QTreeWidget::itemDoubleClicked, this, [this] { DownloadSelected(); });
}

void TDriveFileRevisionsForm::SetStatus(const std::string& Text) { FStatusLabel->setText(Q(Text)); }

// The listing's text with the pins Drive allows per file.
std::string TDriveFileRevisionsForm::ListedStatus(const std::string& Text) const {
  return Text + Fmt("  Kalici saklanan: %d / %d.", TCloudBackupService::PinnedRevisionCount(FRevisions),
                    TCloudBackupService::kMaxPinnedRevisions);
}

void TDriveFileRevisionsForm::ListRevisions() {
  if (FBusy) return;
  const int selected = SelectedIndex();
  const std::string keep = selected >= 0 ? FRevisions[selected].RevisionID : std::string();
  SetStatus("Surumler okunuyor...");
  FRevisions.clear();
  std::string message;
  const bool ok = FEngines()->ListDriveFileRevisions(FFileInfo.FileID, FRevisions, message);
  if (!ok) FRevisions.clear();
  std::stable_sort(FRevisions.begin(), FRevisions.end(),
                   [](const TDriveRevisionInfo& a, const TDriveRevisionInfo& b) { return a.ModifiedTime > b.ModifiedTime; });
  if (!ok)
    SetStatus(message);
  else if (!message.empty())
    SetStatus(message);
  else
    SetStatus(ListedStatus(Fmt("%d surum bulundu. En yenisi en uste yerlestirildi.", static_cast<int>(FRevisions.size()))));
  FillList(keep);
}

void TDriveFileRevisionsForm::FillList(const std::string& SelectRevisionID) {
  FListView->setUpdatesEnabled(false);
  FListView->clear();
  const int n = static_cast<int>(FRevisions.size());
  for (int i = 0; i < n; ++i) {
    const TDriveRevisionInfo& revision = FRevisions[i];
    auto* item = new QTreeWidgetItem(FListView);
    item->setText(0, QString::number(n - i));
    item->setText(1, Q(RevisionTime(revision.ModifiedTime)));
    item->setText(2, Q(DriveSizeText(revision.Size)));
    item->setText(3, Q(revision.RevisionID));
    item->setToolTip(3, Q(revision.RevisionID));
    item->setText(4, revision.KeepForever ? "Evet" : "Hayir");
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    item->setData(0, Qt::UserRole, i);
    if (revision.KeepForever) {
      QFont bold = item->font(4);
      bold.setBold(true);
      for (int column = 0; column < 5; ++column) item->setFont(column, bold);
    }
    if (!SelectRevisionID.empty() && revision.RevisionID == SelectRevisionID) FListView->setCurrentItem(item);
  }
  FListView->setUpdatesEnabled(true);
  UpdateButtons();
}

int TDriveFileRevisionsForm::SelectedIndex() const {
  const QList<QTreeWidgetItem*> items = FListView->selectedItems();
  if (items.isEmpty()) return -1;
  const int index = items.front()->data(0, Qt::UserRole).toInt();
  return index >= 0 && static_cast<size_t>(index) < FRevisions.size() ? index : -1;
}

void TDriveFileRevisionsForm::UpdateButtons() {
  const int index = SelectedIndex();
  FDownloadButton->setEnabled(index >= 0 && !FBusy);
  FPinButton->setEnabled(index >= 0 && !FBusy);
  FPinButton->setText(index >= 0 && FRevisions[index].KeepForever ? "Sabitlemeyi Kaldir" : "Kalici Sakla");
  FRefreshButton->setEnabled(!FBusy);
}

void TDriveFileRevisionsForm::DownloadSelected() {
  if (FBusy) return;  // a double-click while a download runs
  const int index = SelectedIndex();
  if (index < 0) {
    FPrompts.Message(this, TMessageKind::Information, "Indirmek icin bir surum secin.");
    return;
  }
  const TDriveRevisionInfo revision = FRevisions[index];
  const int number = static_cast<int>(FRevisions.size()) - index;
  const std::string suggested = TCloudBackupService::RevisionFileName(FFileInfo.Name, revision.ModifiedTime, number);
  const std::string ext = ExtractFileExt(suggested);
  const std::string path = FPrompts.PickSaveFile(this, kSaveTitle, suggested, ext.empty() ? ext : ext.substr(1));
  if (path.empty()) return;

  bool ok = false;
  std::string message;
  {
    TBusyScope busy(FBusy);
    UpdateButtons();
    SetStatus("Surum indiriliyor...");
    QCoreApplication::processEvents();
    ok = FEngines()->DownloadDriveFileRevision(FFileInfo.FileID, revision.RevisionID, path, message);
  }
  UpdateButtons();
  SetStatus(ok ? "Surum indirildi: " + ExtractFileName(path) : std::string("Surum indirilemedi."));
  FPrompts.Message(this, ok ? TMessageKind::Information : TMessageKind::Error, message);
  if (FCloseWhenDone) close();
}

void TDriveFileRevisionsForm::TogglePin() {
  if (FBusy) return;
  const int index = SelectedIndex();
  if (index < 0) {
    FPrompts.Message(this, TMessageKind::Information, "Sabitlemek icin bir surum secin.");
    return;
  }
  const TDriveRevisionInfo revision = FRevisions[index];
  std::string message;
  bool ok = false;
  {
    TBusyScope busy(FBusy);
    ok = FEngines()->SetDriveRevisionKeepForever(FFileInfo.FileID, revision.RevisionID, !revision.KeepForever, message);
  }
  if (!ok) {
    FPrompts.Message(this, TMessageKind::Warning, message);
    UpdateButtons();
    return;
  }
  ListRevisions();
  SetStatus(ListedStatus(message));
}

void TDriveFileRevisionsForm::closeEvent(QCloseEvent* Event) {
  if (!FBusy) {
    QWidget::closeEvent(Event);
    return;
  }
  // The download still runs on this window; it closes when that ends.
  Event->ignore();
  FCloseWhenDone = true;
}

}  // namespace calvora::desktop
