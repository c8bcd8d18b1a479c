// The main window's actions on the user-interface thread: new, edit and
// delete plans, the other windows, the service state and the restore tool.
// A plan is saved as one change on a fresh load of the plan file, so what
// the service's runner stored since the window's last refresh is kept.
#include "desktop/frmMain.h"

#include "desktop/DesktopText.h"
#include "foundation/TextFile.h"
#include "foundation/uLogger.h"
#include "plans/uPlanDefaults.h"

namespace calvora::desktop {
namespace {

constexpr const char kRestoreToolName[] = "CalvoraRestore";

}  // namespace

void TMainForm::SelectPlanById(const std::string& PlanID) {
  FPendingSelectID = PlanID;
  RefreshPlanList();
}

void TMainForm::ToolButton1Click() {
  TBackupPlan plan = NewPlanDefaults();
  if (!FHooks.EditPlan(plan)) return;
  plan.ID = TBackupPlanStore::GeneratePlanID();
  try {
    FPlanStore->SavePlan(plan);
  } catch (const std::exception& e) {
    LogException("Gorev kaydedilemedi", e);
    FPrompts.Message(this, TMessageKind::Error, std::string("Gorev kaydedilemedi: ") + e.what());
    return;
  }
  SelectPlanById(plan.ID);
  UpdateDashboard();
  UpdateStatusBar();
}

void TMainForm::ToolButton2Click() {
  TBackupPlan plan;
  if (!TryGetSelectedPlan(plan)) {
    FPrompts.Message(this, TMessageKind::Plain, "Duzenlemek icin bir gorev secin.");
    return;
  }
  if (!FHooks.EditPlan(plan)) return;
  try {
    FPlanStore->SavePlan(plan);
  } catch (const std::exception& e) {
    LogException("Gorev kaydedilemedi", e);
    FPrompts.Message(this, TMessageKind::Error, std::string("Gorev kaydedilemedi: ") + e.what());
    return;
  }
  SelectPlanById(plan.ID);
  UpdateDashboard();
}

void TMainForm::DeletePlanClick() {
  TBackupPlan plan;
  if (!TryGetSelectedPlan(plan)) {
    FPrompts.Message(this, TMessageKind::Plain, "Silmek icin bir gorev secin.");
    return;
  }
  if (!FPrompts.Confirm(this, "Secili SQL yedekleme gorevi silinsin mi?")) return;
  try {
    FPlanStore->DeletePlan(plan.ID);
  } catch (const std::exception& e) {
    LogException("Gorev silinemedi", e);
    FPrompts.Message(this, TMessageKind::Error, std::string("Gorev silinemedi: ") + e.what());
    return;
  }
  FSelectedPlanIndex = -1;
  RefreshPlanList();
  UpdateStatusBar();
}

void TMainForm::ToolButton4Click() {
  RefreshPlanList();
  UpdateDashboard();
  UpdateStatusBar();
}

void TMainForm::ToolButton6Click() {
  FHooks.ShowSettings();
  RefreshPlanList();
  UpdateDashboard();
  UpdateStatusBar();
}

void TMainForm::ToolButton7Click() {
  TBackupPlan plan;
  FHooks.OpenMonitor(TryGetSelectedPlan(plan) ? plan.ID : std::string());
}

void TMainForm::ListViewFilesDblClick() {
  TBackupPlan plan;
  if (TryGetSelectedPlan(plan)) FHooks.OpenDriveFiles(plan);
}

void TMainForm::ServiceStateClick() {
  UpdateServiceStatusPanel();
  TServiceRunState state = srsUnknown;
  std::string text;
  if (QueryBackupServiceState(FEnv, state, text))
    FPrompts.Message(this, TMessageKind::Plain,
                     "Windows Service durumu: " + text + "\r\n" +
                         "Kurulum ve baslatma islemlerini Ayarlar ekranindaki Windows Service sekmesinden "
                         "yonetebilirsiniz.");
  else
    FPrompts.Message(this, TMessageKind::Plain, "Servis durumu okunamadi: " + text);
}

void TMainForm::RestoreToolClick() {
  const std::string folder = ExtractFileDir(FHooks.ExePath);
  const std::string path = JoinPath(folder, kRestoreToolName);
  if (!FileExists(path)) {
    FPrompts.Message(this, TMessageKind::Warning, "Geri yükleme uygulaması bulunamadı:\r\n" + path);
    return;
  }
  // A program of its own: nothing is passed to it and nothing awaited.
  platform::ProcessRequest request;
  request.program = path;
  request.workingDirectory = folder;
  std::string error;
  if (!FEnv.Processes().StartDetached(request, error)) {
    LogWarnFmt("Geri yukleme uygulamasi baslatilamadi: %s", error);
    FPrompts.Message(this, TMessageKind::Error, "Geri yükleme uygulaması başlatılamadı: " + error);
  }
}

}  // namespace calvora::desktop
