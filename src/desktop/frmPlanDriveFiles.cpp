#include "desktop/frmPlanDriveFiles.h"

#include "desktop/DesktopText.h"
#include "desktop/DesktopWidgets.h"

namespace calvora::desktop {

TPlanDriveFilesForm::TPlanDriveFilesForm(TEnv& Env, TDesktopPrompts& Prompts, const TBackupPlan& Plan, QWidget* Parent)
    : QDialog(Parent), FEnv(Env), FPrompts(Prompts), FPlan(Plan) {
  setObjectName("PlanDriveFilesForm");
  setWindowTitle(Q("Bulut Dosyalari - " + PlanTargetName(FPlan)));
  BuildNotice(this, Q("Bulut Dosyalari: " + FPlan.Name),
              "Bu pencerede planin Google Drive'daki yedek dosyalari listelenecek; secilen dosya ya da hepsi bir "
              "klasore indirilebilecek ve her dosyanin revizyonlari ayri bir pencerede gorulebilecek.");
}

TPlanDriveFilesForm* TPlanDriveFilesForm::OpenForPlan(TEnv& Env, TDesktopPrompts& Prompts, const TBackupPlan& Plan) {
  auto* form = new TPlanDriveFilesForm(Env, Prompts, Plan);
  form->setAttribute(Qt::WA_DeleteOnClose);
  form->show();
  return form;
}

}  // namespace calvora::desktop
