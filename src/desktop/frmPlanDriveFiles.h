#pragma once
// A plan's backup files on Google Drive, to download the selected one or all
// of them into a folder without replacing a local file, and to open a file's
// revisions. Listing and downloads are the engine's; each runs on an engine
// made for the call, on the user-interface thread.
#include "desktop/DesktopPrompts.h"
#include "engine/uCloudBackup.h"
#include "foundation/Env.h"
#include "google/uGoogleDrive.h"
#include "plans/uBackupPlans.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QPushButton;
class QLabel;
class QTreeWidget;

namespace calvora::desktop {

// The engine one operation of a cloud window runs on; the default is made
// from the configuration's SQL Server settings.
using TEngineFactory = std::function<std::unique_ptr<TCloudBackupService>()>;
TEngineFactory DefaultEngineFactory(TEnv& Env);

// "512 B", "1.5 KB", "2.0 MB", "5120.0 GB": GB is the largest unit here.
std::string DriveSizeText(std::int64_t Bytes);
// The list's caption of a file: its RelativePath, else its Name.
std::string DriveFileCaption(const TDriveFileInfo& File);
// The last extension of the name in capitals without its dot ("BAK").
std::string DriveFileType(const std::string& Name);

class TPlanDriveFilesForm : public QWidget {
  Q_OBJECT
 public:
  static constexpr const char* kPickFolderTitle = "Dosyalarin indirilecegi klasoru secin";

  TPlanDriveFilesForm(TEnv& Env, TDesktopPrompts& Prompts, const TBackupPlan& Plan, QWidget* Parent = nullptr,
                      TEngineFactory Engines = {});
  ~TPlanDriveFilesForm() override;

  // A new non-modal window for a copy of Plan; every call opens another
  // one, each frees itself when closed.
  static TPlanDriveFilesForm* OpenForPlan(TEnv& Env, TDesktopPrompts& Prompts, const TBackupPlan& Plan);

  const TBackupPlan& Plan() const { return FPlan; }
  const std::vector<TDriveFileInfo>& Files() const { return FFiles; }
  bool Downloading() const { return FDownloading; }

  void ListBackups();
  void DownloadSelected();
  void DownloadAll();
  void OpenRevisions();

 protected:
  void closeEvent(QCloseEvent* Event) override;

 private:
  void BuildWindow();
  void FillList();
  void UpdateButtons();
  bool TryGetSelected(TDriveFileInfo& File) const;
  std::string ChooseFolder();
  // Target below Folder for File; shows the error and gives false when none.
  bool TargetFor(const std::string& Folder, const TDriveFileInfo& File, std::string& Target);
  void SetStatus(const std::string& Text);

  TEnv& FEnv;
  TDesktopPrompts& FPrompts;
  TEngineFactory FEngines;
  TBackupPlan FPlan;
  std::vector<TDriveFileInfo> FFiles;
  // A download runs with events let through: no second one starts, and a
  // close waits for the current file.
  bool FDownloading = false;
  bool FStopRequested = false;
  bool FCloseWhenDone = false;

  QLabel* FInfoLabel = nullptr;
  QLabel* FStatusLabel = nullptr;
  QTreeWidget* FListView = nullptr;
  QPushButton* FDownloadButton = nullptr;
  QPushButton* FDownloadAllButton = nullptr;
  QPushButton* FRevisionsButton = nullptr;
  QPushButton* FRefreshButton = nullptr;
  QPushButton* FCloseButton = nullptr;
};

}  // namespace calvora::desktop
