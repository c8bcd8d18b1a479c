#pragma once
// A plan's backup files on Google Drive, to download one or all of them,
// and (from there) a file's revisions. For now a notice of what it will
// hold.
#include "desktop/DesktopPrompts.h"
#include "foundation/Env.h"
#include "plans/uBackupPlans.h"

#include <QDialog>

namespace calvora::desktop {

class TPlanDriveFilesForm : public QDialog {
  Q_OBJECT
 public:
  TPlanDriveFilesForm(TEnv& Env, TDesktopPrompts& Prompts, const TBackupPlan& Plan, QWidget* Parent = nullptr);

  // A new non-modal window for a copy of Plan; every call opens another
  // one, each frees itself when closed.
  static TPlanDriveFilesForm* OpenForPlan(TEnv& Env, TDesktopPrompts& Prompts, const TBackupPlan& Plan);

  const TBackupPlan& Plan() const { return FPlan; }

 private:
  TEnv& FEnv;
  TDesktopPrompts& FPrompts;
  TBackupPlan FPlan;
};

}  // namespace calvora::desktop
