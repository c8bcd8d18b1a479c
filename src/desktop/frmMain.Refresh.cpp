// The main window's refreshes: plan list, details, header, activity,
// dashboard, service panel, quota card, status bar and the background
// indicator. The quota card and the re-check of the saved sign-in reach the
// cloud and run on workers; everything else reads local files.
#include "desktop/frmMain.h"

#include "account/uFirebaseActiveAccount.h"
#include "accountdrive/uAccountDriveContext.h"
#include "accountdrive/uDriveQuotaManager.h"
#include "desktop/DesktopText.h"
#include "foundation/Format.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "google/uGoogleAuth.h"

#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTreeWidget>

#include <algorithm>

namespace calvora::desktop {

bool TMainForm::TryGetSelectedPlan(TBackupPlan& Plan) const {
  if (FSelectedPlanIndex < 0 || FSelectedPlanIndex >= static_cast<int>(FPlans.size())) {
    Plan = EmptyPlan();
    return false;
  }
  Plan = FPlans[static_cast<size_t>(FSelectedPlanIndex)];
  return true;
}

bool TMainForm::TryGetSelectedActivity(TPlanActivitySnapshot& Activity) const {
  Activity = TPlanActivitySnapshot();
  TBackupPlan plan;
  if (!TryGetSelectedPlan(plan)) return false;
  try {
    return TryGetPlanActivity(FEnv, plan.ID, Activity);
  } catch (const std::exception& e) {
    LogException("Plan izleme kaydi okunamadi", e);
    return false;
  }
}

void TMainForm::RefreshPlanList() {
  // The selection follows the plan, not its place in the list: another
  // writer may have added or removed plans since the last load.
  TBackupPlan selected;
  std::string wantedID = FPendingSelectID.empty() && TryGetSelectedPlan(selected) ? selected.ID : FPendingSelectID;
  FPendingSelectID.clear();
  try {
    FPlans = FPlanStore->LoadPlans();
  } catch (const std::exception& e) {
    LogException("Plan listesi okunamadi", e);
    FPrompts.Message(this, TMessageKind::Error, std::string("Plan listesi okunamadi: ") + e.what());
  }
  FSelectedPlanIndex = -1;
  for (size_t i = 0; i < FPlans.size() && !wantedID.empty(); ++i)
    if (SameText(FPlans[i].ID, wantedID)) FSelectedPlanIndex = static_cast<int>(i);

  {
    const QSignalBlocker blocker(ListViewFiles);
    ListViewFiles->setUpdatesEnabled(false);
    ListViewFiles->clear();
    for (size_t i = 0; i < FPlans.size(); ++i) {
      const TBackupPlan& plan = FPlans[i];
      auto* item = new QTreeWidgetItem(
          QStringList{Q(PlanListCaption(plan)), Q(PlanTargetName(plan)), Q(FormatScheduleText(plan))});
      item->setData(0, Qt::UserRole, static_cast<int>(i));
      ListViewFiles->addTopLevelItem(item);
      if (static_cast<int>(i) == FSelectedPlanIndex) {
        ListViewFiles->setCurrentItem(item);
        item->setSelected(true);
      }
    }
    ListViewFiles->setUpdatesEnabled(true);
  }
  UpdatePlanDetails();
  UpdateDashboard();
  UpdateSelectedPlanHeader();
  UpdateActivityMemo();
}

void TMainForm::ListViewFilesSelectItem() {
  const QList<QTreeWidgetItem*> items = ListViewFiles->selectedItems();
  FSelectedPlanIndex = items.isEmpty() ? -1 : items.front()->data(0, Qt::UserRole).toInt();
  UpdatePlanDetails();
  UpdateSelectedPlanHeader();
  UpdateActivityMemo();
}

void TMainForm::UpdatePlanDetails() {
  ListViewVersions->setUpdatesEnabled(false);
  ListViewVersions->clear();
  TBackupPlan plan;
  const TDetailRows rows = TryGetSelectedPlan(plan)
                               ? PlanDetailRows(plan)
                               : TDetailRows{{"Durum", "Bir gorev secin veya + Yeni ile gorev olusturun."}};
  for (const auto& [field, value] : rows)
    ListViewVersions->addTopLevelItem(new QTreeWidgetItem(QStringList{Q(field), Q(value)}));
  ListViewVersions->setUpdatesEnabled(true);
}

void TMainForm::UpdateSelectedPlanHeader() {
  TBackupPlan plan;
  if (!TryGetSelectedPlan(plan)) {
    lblSelectedPlan->setText("Plan secilmedi");
    lblSelectedMeta->setText("Soldaki listeden bir plan secerek ayrintilari gorebilirsiniz.");
    return;
  }
  TPlanActivitySnapshot activity;
  const std::string stage = TryGetSelectedActivity(activity) ? activity.CurrentStage : std::string();
  lblSelectedPlan->setText(Q(plan.Name));
  lblSelectedMeta->setText(Q(SelectedPlanMeta(plan, stage)));
}

void TMainForm::UpdateActivityMemo() {
  MemoActivity->clear();
  TPlanActivitySnapshot activity;
  if (!TryGetSelectedActivity(activity)) {
    MemoActivity->setPlainText("Bu plan icin henuz izleme verisi yok.");
    return;
  }
  const std::vector<std::string> lines = ActivityLines(activity);
  MemoActivity->setPlainText(lines.empty() ? QString("Bu plan icin henuz hareket kaydi yok.") : Q(Join(lines, "\n")));
}

void TMainForm::UpdateDashboard() {
  const auto enabled = std::count_if(FPlans.begin(), FPlans.end(), [](const TBackupPlan& p) { return p.Enabled; });
  TDateTime lastRun = 0;
  for (const TBackupPlan& plan : FPlans) lastRun = std::max(lastRun, plan.LastRunAt);
  std::string running = "-";
  try {
    std::vector<TPlanActivitySnapshot> activities;
    LoadPlanActivities(FEnv, activities);
    running = std::to_string(std::count_if(activities.begin(), activities.end(),
                                           [](const TPlanActivitySnapshot& a) { return a.IsRunning; }));
  } catch (const std::exception& e) {
    LogException("Plan izleme kayitlari okunamadi", e);
  }
  CardValue("CardTotal")->setText(QString::number(FPlans.size()));
  CardValue("CardActive")->setText(QString::number(enabled));
  CardValue("CardRunning")->setText(Q(running));
  CardValue("CardLastRun")->setText(Q(FormatDashboardTime(lastRun)));
  UpdateServiceStatusPanel();
  UpdateDriveQuotaCard();
}

void TMainForm::SetServicePanel(const std::string& Value, const palette::TServicePanelColours& Look) {
  PanelServiceStatus->setStyleSheet(
      QString("QFrame#PanelServiceStatus { background: %1; border-radius: 6px; }").arg(QString(Look.Background)));
  lblServiceStatusTitle->setStyleSheet(QString("color: %1; background: transparent;").arg(QString(Look.Caption)));
  lblServiceStatusValue->setText(Q(Value));
}

void TMainForm::UpdateServiceStatusPanel() {
  if (!PanelServiceStatus) return;
  TServiceRunState state = srsUnknown;
  std::string text;
  if (!QueryBackupServiceState(FEnv, state, text)) {
    SetServicePanel("Okunamadi", palette::kServiceNeutral);
    return;
  }
  switch (state) {
    case srsNotInstalled:
    case srsStopped:
      SetServicePanel(text, palette::kServiceStopped);
      break;
    case srsStartPending:
    case srsStopPending:
      SetServicePanel(text, palette::kServicePending);
      break;
    case srsRunning:
      SetServicePanel(text, palette::kServiceRunning);
      break;
    case srsUnknown:
      SetServicePanel(text, palette::kServiceNeutral);
      break;
  }
}

void TMainForm::UpdateDriveQuotaCard() {
  if (FClosing) return;
  if (FQuotaReadRunning) {
    FQuotaReadAgain = true;  // one read at a time; the newest request is served after it
    return;
  }
  if (!FQuotaShown) {
    CardValue("CardDriveQuota")->setText("Okunuyor...");
    ProgressDriveQuota->setValue(0);
  }
  lblDriveQuotaHint->setText("Okunuyor...");
  FQuotaReadRunning = true;
  auto card = std::make_shared<TQuotaCard>();
  TEnv* env = &FEnv;
  StartWorker(
      "Drive kota karti guncellenemedi",
      [env, card] {
        // The engine's own client: an account with an OAuth client of its
        // own holds tokens only that client can renew.
        std::unique_ptr<TGoogleAuth> auth = CreateAccountGoogleAuth(*env);
        if (IsBlank(auth->TokenData().AccessToken)) {
          card->Value = "Bagli degil";
          return;
        }
        TGoogleDrive drive(*auth);
        TAccountDriveUsage usage;
        std::string error;
        if (!GetAccountDriveUsage(*env, drive, Trim(env->Config().GetRootFolderID()), usage, error)) {
          card->Value = "Okunamadi";
          return;
        }
        *card = QuotaCardFor(usage.UsedBytes, usage.LimitBytes);
      },
      [this, card](const std::string& Error) {
        FQuotaReadRunning = false;
        if (Error.empty())
          ApplyQuotaResult(card->Value, card->Position);
        else
          ApplyQuotaResult("Okunamadi", 0);
        if (FQuotaReadAgain) {
          FQuotaReadAgain = false;
          UpdateDriveQuotaCard();
        }
      });
}

void TMainForm::ApplyQuotaResult(const std::string& Value, int Position) {
  FQuotaShown = true;
  CardValue("CardDriveQuota")->setText(Q(Value));
  ProgressDriveQuota->setValue(Position);
  lblDriveQuotaHint->clear();
}

std::string TMainForm::AccountStatusText() const {
  std::string text = "Aktif Hesap: -";
  TAccountCredentials saved;
  try {
    if (LoadSavedSignIn(FEnv, saved))
      text = IsBlank(saved.DisplayName) ? "Aktif Hesap: " + saved.LoginName
                                        : Fmt("Aktif Hesap: %s (%s)", saved.DisplayName, saved.LoginName);
  } catch (const std::exception& e) {
    LogException("Kayitli oturum okunamadi", e);
  }
  if (FSignInUnreachable) text += " - hesap kontrol edilemedi";
  return text;
}

void TMainForm::UpdateStatusBar() {
  if (!FStatusPanels[0]) return;
  const auto enabled = std::count_if(FPlans.begin(), FPlans.end(), [](const TBackupPlan& p) { return p.Enabled; });
  FStatusPanels[0]->setFixedWidth(280);
  FStatusPanels[1]->setFixedWidth(std::max(220, statusBar()->width() - 640));
  FStatusPanels[2]->setFixedWidth(340);
  FStatusPanels[1]->setText(
      Q(Fmt("Toplam %d gorev, aktif %d gorev", static_cast<int>(FPlans.size()), static_cast<int>(enabled))));
  FStatusPanels[2]->setText(Q(AccountStatusText()));
  statusBar()->repaint();
  CheckSavedSignInIfDue();
}

void TMainForm::CheckSavedSignInIfDue() {
  if (FClosing || FSignInCheckRunning) return;
  if (MillisecondsBetween(FEnv.Now(), FLastSignInCheck) < kSignInCheckSeconds * 1000) return;
  if (!HasSavedSignIn(FEnv)) return;
  FLastSignInCheck = FEnv.Now();
  FSignInCheckRunning = true;
  struct TCheck {
    TSavedSignInCheck Outcome = TSavedSignInCheck::Unreachable;
    std::string Message;
  };
  auto check = std::make_shared<TCheck>();
  TEnv* env = &FEnv;
  StartWorker(
      "Kayitli oturum kontrol edilemedi",
      [env, check] {
        std::string login;
        check->Outcome = RefreshSavedSignIn(*env, check->Message, login);
      },
      [this, check](const std::string& Error) {
        FSignInCheckRunning = false;
        if (Error.empty())
          ApplySignInCheck(check->Outcome, check->Message);
        else
          ApplySignInCheck(TSavedSignInCheck::Unreachable, Error);
      });
}

void TMainForm::ApplySignInCheck(TSavedSignInCheck Outcome, const std::string& Message) {
  if (FClosing) return;
  if (Outcome == TSavedSignInCheck::Rejected) {
    // The account is gone or its password changed: signed out for good.
    FClosing = true;
    LogWarnFmt("Kayitli oturum gecersiz: %s", Message);
    try {
      ClearSavedSignIn(FEnv);
    } catch (const std::exception& e) {
      LogException("Kayitli oturum silinemedi", e);
    }
    FPrompts.Message(this, TMessageKind::Error, Message);
    FPrompts.QuitApplication();
    return;
  }
  const bool unreachable = Outcome == TSavedSignInCheck::Unreachable;
  if (unreachable && !FSignInUnreachable) LogWarnFmt("Kayitli oturum kontrol edilemedi: %s", Message);
  FSignInUnreachable = unreachable;
  if (FStatusPanels[2]) FStatusPanels[2]->setText(Q(AccountStatusText()));
}

void TMainForm::RefreshBackgroundIndicator() {
  if (FOperationRunning) return;
  std::vector<TPlanActivitySnapshot> activities;
  try {
    LoadPlanActivities(FEnv, activities);
  } catch (const std::exception& e) {
    LogException("Plan izleme kayitlari okunamadi", e);
  }
  const auto running =
      std::find_if(activities.begin(), activities.end(), [](const TPlanActivitySnapshot& a) { return a.IsRunning; });
  if (running != activities.end()) {
    std::string text = running->PlanName;
    if (!running->CurrentStage.empty()) text += " - " + running->CurrentStage;
    PanelTransfer->show();
    lblTransferProgress->setText(Q("Arka planda calisiyor: " + text));
  } else {
    PanelTransfer->hide();
    lblTransferProgress->setText("Aktarim: bekliyor");
  }
  ProgressTransfer->setValue(0);
}

}  // namespace calvora::desktop
