#pragma once
// The stored revisions of one Drive file, newest first: download one under
// a name that carries its date, and pin a revision so Drive keeps it past
// its purge of old revisions (or unpin it).
#include "desktop/DesktopPrompts.h"
#include "desktop/frmPlanDriveFiles.h"
#include "foundation/Env.h"
#include "google/uGoogleDrive.h"

#include <QWidget>

#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace calvora::desktop {

class TDriveFileRevisionsForm : public QWidget {
  Q_OBJECT
 public:
  static constexpr const char* kSaveTitle = "Surumun kaydedilecegi konumu secin";

  TDriveFileRevisionsForm(TEnv& Env, TDesktopPrompts& Prompts, const TDriveFileInfo& FileInfo,
                          QWidget* Parent = nullptr, TEngineFactory Engines = {});
  ~TDriveFileRevisionsForm() override;

  // A new non-modal window for a copy of FileInfo; it frees itself when closed.
  static TDriveFileRevisionsForm* OpenForFile(TEnv& Env, TDesktopPrompts& Prompts, const TDriveFileInfo& FileInfo,
                                              TEngineFactory Engines = {});

  const TDriveFileInfo& FileInfo() const { return FFileInfo; }
  // Newest first, as listed.
  const std::vector<TDriveRevisionInfo>& Revisions() const { return FRevisions; }

  void ListRevisions();
  void DownloadSelected();
  // Pins the selected revision, or unpins it when it is pinned.
  void TogglePin();

 protected:
  void closeEvent(QCloseEvent* Event) override;

 private:
  void BuildWindow();
  void FillList(const std::string& SelectRevisionID);
  void UpdateButtons();
  int SelectedIndex() const;
  void SetStatus(const std::string& Text);
  std::string ListedStatus(const std::string& Text) const;

  TEnv& FEnv;
  TDesktopPrompts& FPrompts;
  TEngineFactory FEngines;
  TDriveFileInfo FFileInfo;
  std::vector<TDriveRevisionInfo> FRevisions;
  bool FBusy = false;
  bool FCloseWhenDone = false;

  QLabel* FInfoLabel = nullptr;
  QLabel* FStatusLabel = nullptr;
  QTreeWidget* FListView = nullptr;
  QPushButton* FDownloadButton = nullptr;
  QPushButton* FPinButton = nullptr;
  QPushButton* FRefreshButton = nullptr;
  QPushButton* FCloseButton = nullptr;
};

}  // namespace calvora::desktop
