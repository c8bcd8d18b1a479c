// The settings window's plans and service tabs. Plan saves and deletes are
// one change on a fresh load of the plan file, so the run fields the
// service wrote since this window loaded its list survive.
#include "desktop/frmSettings.h"

#include "desktop/DesktopText.h"
#include "foundation/DateTime.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "plans/uPlanValidation.h"
#include "runner/uBackupPlanRunner.h"
#include "service/uServiceManager.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

namespace calvora::desktop {
namespace {

constexpr const char kBusyMessage[] = "Devam eden bir islem var.";

std::string OrDash(const std::string& Text) { return Text.empty() ? std::string("-") : Text; }

}  // namespace

void TSettingsForm::LoadPlanList() {
  try {
    FPlans = FPlanStore->LoadPlans();
  } catch (const std::exception& e) {
    LogException("Plan listesi okunamadi", e);
    FPlans.clear();
  }
  const QSignalBlocker block(lbPlans);
  lbPlans->clear();
  for (const TBackupPlan& plan : FPlans) lbPlans->addItem(Q(plan.Name));
  ClearPlanForm();
}

void TSettingsForm::ClearPlanForm() {
  FSelectedPlanIndex = -1;
  {
    const QSignalBlocker block(lbPlans);
    lbPlans->setCurrentRow(-1);
    lbPlans->clearSelection();
  }
  lblPlanDb->setText("Veritaban Ad:");
  edPlanName->clear();
  edPlanDb->clear();
  edPlanDrive->clear();
  edPlanInterval->setText("60");
  edPlanRetention->setText("0");
  for (QCheckBox* box : {chkPlanEnabled, chkPlanRunOnStart, chkPlanCompression, chkPlanDeleteLocal})
    box->setChecked(true);
  lblPlanLastRun->setText("Son calisma: -");
  lblPlanLastStatus->setText("Durum: -");
  lblPlanLastFile->setText("Son dosya: -");
  memPlanMessage->clear();
}

void TSettingsForm::ShowPlan(int Index) {
  FSelectedPlanIndex = Index;
  if (Index < 0 || Index >= static_cast<int>(FPlans.size())) {
    ClearPlanForm();
    return;
  }
  const TBackupPlan& plan = FPlans[Index];
  const bool folder = IsFolderPlan(plan);
  edPlanName->setText(Q(plan.Name));
  lblPlanDb->setText(folder ? "Kaynak Klasoru:" : "Veritaban Adi:");
  edPlanDb->setText(Q(folder ? plan.SourceFolder : plan.DatabaseName));
  edPlanDrive->setText(Q(plan.DriveSubFolder));
  edPlanInterval->setText(QString::number(plan.IntervalMinutes));
  edPlanRetention->setText(QString::number(plan.LocalBackupRetentionDays));
  chkPlanEnabled->setChecked(plan.Enabled);
  chkPlanRunOnStart->setChecked(plan.RunOnServiceStart);
  chkPlanCompression->setChecked(plan.UseCompression);
  chkPlanDeleteLocal->setChecked(plan.DeleteLocalAfterUpload);
  lblPlanLastRun->setText(
      Q("Son calisma: " + (plan.LastRunAt > 0 ? FormatRegionalDateTime(plan.LastRunAt) : std::string("-"))));
  lblPlanLastStatus->setText(Q("Durum: " + OrDash(plan.LastStatus)));
  lblPlanLastFile->setText(Q("Son dosya: " + OrDash(plan.LastBackupFile)));
  memPlanMessage->setPlainText(Q(plan.LastMessage));
}

void TSettingsForm::SavePlanClick() {
  const bool selected = FSelectedPlanIndex >= 0 && FSelectedPlanIndex < static_cast<int>(FPlans.size());
  TBackupPlan plan = selected ? FPlans[FSelectedPlanIndex] : EmptyPlan();
  if (!selected) {
    plan.ID = TBackupPlanStore::GeneratePlanID();
    plan.BackupType = "sql";
    // New plans only: an existing plan keeps its cleanup choice.
    plan.CleanupFailedFiles = true;
    plan.FailedFileRetentionHours = 24;
  }
  const bool folder = IsFolderPlan(plan);
  const std::string name = Trim(S(edPlanName->text()));
  const std::string source = Trim(S(edPlanDb->text()));
  const int interval = PlanNumberOr(S(edPlanInterval->text()), 0);
  const int retention = PlanNumberOr(S(edPlanRetention->text()), -1);
  std::string failure;
  if (name.empty())
    failure = "Plan adi zorunlu.";
  else if (source.empty())
    failure = folder ? "Kaynak klasor zorunlu." : "Veritaban adi zorunlu.";
  else if (interval <= 0)
    failure = "Aralik dakika degeri 0'dan buyuk olmali.";
  else if (retention < 0)
    failure = "Yerel saklama gun degeri 0 veya daha buyuk olmali.";
  if (!failure.empty()) {
    FPrompts.Message(this, TMessageKind::Plain, failure);
    return;
  }
  plan.Name = name;
  if (folder) {
    plan.SourceFolder = source;
    plan.DatabaseName.clear();
  } else {
    plan.DatabaseName = source;
    plan.SourceFolder.clear();
  }
  plan.DriveSubFolder = Trim(S(edPlanDrive->text()));
  plan.IntervalMinutes = interval;
  plan.LocalBackupRetentionDays = retention;
  plan.Enabled = chkPlanEnabled->isChecked();
  plan.RunOnServiceStart = chkPlanRunOnStart->isChecked();
  plan.UseCompression = !folder && chkPlanCompression->isChecked();
  plan.DeleteLocalAfterUpload = !folder && chkPlanDeleteLocal->isChecked();
  if (plan.UploadRetryCount < 0) plan.UploadRetryCount = 2;
  try {
    FPlanStore->SavePlan(plan);
  } catch (const std::exception& e) {
    LogException("Plan kaydedilemedi", e);
    FPrompts.Message(this, TMessageKind::Error, std::string("Hata: ") + e.what());
    return;
  }
  LoadPlanList();
  FPrompts.Message(this, TMessageKind::Plain, "Plan kaydedildi.");
}

void TSettingsForm::DeletePlanClick() {
  if (FSelectedPlanIndex < 0 || FSelectedPlanIndex >= static_cast<int>(FPlans.size())) return;
  if (!FPrompts.Confirm(this, "Secili plani silmek istediginize emin misiniz?")) return;
  try {
    FPlanStore->DeletePlan(FPlans[FSelectedPlanIndex].ID);
  } catch (const std::exception& e) {
    LogException("Plan silinemedi", e);
    FPrompts.Message(this, TMessageKind::Error, std::string("Hata: ") + e.what());
    return;
  }
  LoadPlanList();
}

void TSettingsForm::RunPlanClick() {
  if (FSelectedPlanIndex < 0 || FSelectedPlanIndex >= static_cast<int>(FPlans.size())) return;
  // One run at a time across the program: the main window's guard decides.
  if (FHooks.OperationRunning && FHooks.OperationRunning()) {
    FPrompts.Message(this, TMessageKind::Plain, kBusyMessage);
    return;
  }
  std::string message;
  const std::string id = FPlans[FSelectedPlanIndex].ID;
  const bool ok = FHooks.RunPlan ? FHooks.RunPlan(id, message) : RunBackupPlanById(FEnv, id, message);
  FPrompts.Message(this, ok ? TMessageKind::Information : TMessageKind::Error,
                   (ok ? "Yedekleme baslatildi: " : "Hata: ") + message);
}

// ---------------------------------------------------------------- service

void TSettingsForm::RefreshServiceState() {
  TServiceRunState state = srsUnknown;
  std::string text;
  const bool ok = QueryBackupServiceState(FEnv, state, text);
  lblServiceStatusValue->setText(Q(ok ? text : "Hata: " + text));
}

void TSettingsForm::ServiceOperation(bool (*Operation)(TEnv&, std::string&), const char* SuccessText) {
  std::string text;
  const bool ok = Operation(FEnv, text);
  FPrompts.Message(this, ok ? TMessageKind::Information : TMessageKind::Error,
                   ok ? std::string(SuccessText) + text : "Hata: " + text);
  RefreshServiceState();
}

}  // namespace calvora::desktop
