#include "desktop/frmPlanMonitor.h"

#include "desktop/DesktopWidgets.h"

namespace calvora::desktop {

TPlanMonitorForm::TPlanMonitorForm(TEnv& Env, const std::string& InitialPlanID, QWidget* Parent)
    : QDialog(Parent), FEnv(Env), FSelectedPlanID(InitialPlanID) {
  setObjectName("PlanMonitorForm");
  setWindowTitle("Plan Monitor");
  BuildNotice(this, "Plan Monitor",
              "Bu pencerede her planin canli durumu, yukleme durumu ve son hareketleri, secili plan icin durum "
              "kartlari ve ayrintilar yer alacak; bilgiler 4 saniyede bir yenilenecek.");
}

TPlanMonitorForm* TPlanMonitorForm::OpenMonitor(TEnv& Env, const std::string& InitialPlanID) {
  auto* form = new TPlanMonitorForm(Env, InitialPlanID);
  form->setAttribute(Qt::WA_DeleteOnClose);
  form->show();
  return form;
}

}  // namespace calvora::desktop
