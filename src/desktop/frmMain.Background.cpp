// The main window's long operations: the manual run, the download of a
// plan's backups and the update check. Each runs on a worker of the window
// and reports back through queued calls; an exception on a worker becomes a
// failed completion. A run or download locks the main buttons; the update
// check runs one at a time and an update is only applied while nothing
// else runs.
#include "desktop/frmMain.h"

#include "desktop/DesktopText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

namespace calvora::desktop {
namespace {

constexpr const char kBusyMessage[] = "Devam eden bir islem var.";
constexpr const char kUnexpectedError[] = "Beklenmeyen hata";

struct TOperationOutcome {
  bool Success = false;
  std::string Message;
};

}  // namespace

void TMainForm::StartWorker(const std::string& LogContext, std::function<void()> Work,
                            std::function<void(const std::string& Error)> Done) {
  ++FWorkersInFlight;
  FWorkers.start([this, LogContext, Work, Done] {
    std::string error;
    try {
      Work();
    } catch (const std::exception& e) {
      LogException(LogContext, e);
      error = *e.what() ? e.what() : kUnexpectedError;
    } catch (...) {
      LogException(LogContext);
      error = kUnexpectedError;
    }
    // Dropped unread when the window goes first (it waits for its workers).
    QMetaObject::invokeMethod(
        this,
        [this, Done, error] {
          Done(error);
          --FWorkersInFlight;
        },
        Qt::QueuedConnection);
  });
}

bool TMainForm::WaitForWorkers(int Ms) {
  QElapsedTimer timer;
  timer.start();
  while (FWorkersInFlight > 0) {
    if (timer.elapsed() > Ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    FWorkers.waitForDone(10);
  }
  return true;
}

// ---------------------------------------------------------------- guard and band

void TMainForm::BeginOperation(const std::string& Text) {
  FOperationRunning = true;
  for (QToolButton* button : FLockedButtons) button->setEnabled(false);
  miSettings->setEnabled(false);
  PanelTransfer->show();
  lblTransferProgress->setText(Q(Text));
  ProgressTransfer->setValue(0);
  FStatusPanels[1]->setText(Q(Text));
  statusBar()->repaint();
}

void TMainForm::EndOperation() {
  FOperationRunning = false;
  for (QToolButton* button : FLockedButtons) button->setEnabled(true);
  miSettings->setEnabled(true);
  PanelTransfer->hide();
  lblTransferProgress->setText("Aktarim: bekliyor");
  ProgressTransfer->setValue(0);
  UpdateStatusBar();
  if (FPendingUpdate) {
    // Offered once the finished operation's own message has been seen.
    QTimer::singleShot(0, this, [this] {
      if (!FPendingUpdate || FOperationRunning) return;
      const TUpdateInfo info = *FPendingUpdate;
      FPendingUpdate.reset();
      OfferUpdate(info);
    });
  }
}

void TMainForm::ShowTransferProgress(const std::string& Caption, std::int64_t BytesSent, std::int64_t TotalBytes) {
  const TTransferProgress progress = TransferProgress(Caption, BytesSent, TotalBytes);
  ProgressTransfer->setValue(progress.Position);
  lblTransferProgress->setText(Q(progress.Label));
}

TUploadProgress TMainForm::ProgressHandler(const std::string& Caption) {
  return [this, Caption](std::int64_t BytesSent, std::int64_t TotalBytes) {
    QMetaObject::invokeMethod(
        this, [this, Caption, BytesSent, TotalBytes] { ShowTransferProgress(Caption, BytesSent, TotalBytes); },
        Qt::QueuedConnection);
  };
}

// ---------------------------------------------------------------- run and download

void TMainForm::ToolButton3Click() {
  if (FOperationRunning) {
    FPrompts.Message(this, TMessageKind::Plain, kBusyMessage);
    return;
  }
  TBackupPlan plan;
  if (!TryGetSelectedPlan(plan)) {
    FPrompts.Message(this, TMessageKind::Plain, "Calistirmak icin bir gorev secin.");
    return;
  }
  BeginOperation("Manuel yedekleme baslatildi: " + plan.Name);
  auto outcome = std::make_shared<TOperationOutcome>();
  // The runner loads the plan afresh by its identifier.
  StartWorker(
      "Manuel yedekleme istisnasi",
      [run = FHooks.RunPlan, id = plan.ID, progress = ProgressHandler("Yukleme"), outcome] {
        outcome->Success = run(id, outcome->Message, progress);
      },
      [this, outcome](const std::string& Error) {
        if (!Error.empty()) *outcome = {false, Error};
        EndOperation();
        RefreshPlanList();
        UpdateDashboard();
        UpdateStatusBar();
        FPrompts.Message(this, TMessageKind::Plain,
                         outcome->Success ? outcome->Message : "Gorev calistirilamadi: " + outcome->Message);
      });
}

void TMainForm::DownloadBackupsClick() {
  if (FOperationRunning) {
    FPrompts.Message(this, TMessageKind::Plain, kBusyMessage);
    return;
  }
  TBackupPlan plan;
  if (!TryGetSelectedPlan(plan)) {
    FPrompts.Message(this, TMessageKind::Plain, "Indirmek icin bir gorev secin.");
    return;
  }
  if (IsFolderPlan(plan)) {
    FPrompts.Message(this, TMessageKind::Plain, "Indirme ozelligi simdilik SQL yedek dosyalari icin kullanilir.");
    return;
  }
  const std::string destDir = Trim(FPrompts.PickFolder(this, "Yedeklerin indirilecegi klasoru secin"));
  if (destDir.empty()) return;
  BeginOperation("Yedek indirme baslatildi: " + plan.Name);
  auto outcome = std::make_shared<TOperationOutcome>();
  StartWorker(
      "Yedek indirme istisnasi",
      [download = FHooks.DownloadPlan, plan, destDir, progress = ProgressHandler("Indirme"), outcome] {
        outcome->Success = download(plan, destDir, outcome->Message, progress);
      },
      [this, outcome](const std::string& Error) {
        if (!Error.empty()) *outcome = {false, Error};
        EndOperation();
        RefreshPlanList();
        UpdateDashboard();
        UpdateActivityMemo();
        FPrompts.Message(this, TMessageKind::Plain,
                         outcome->Success ? outcome->Message : "Yedek indirme tamamlanamadi: " + outcome->Message);
      });
}

// ---------------------------------------------------------------- update check

void TMainForm::StartUpdateCheck(bool Manual) {
  if (FUpdateCheckRunning) {
    if (Manual) FPrompts.Message(this, TMessageKind::Information, "Guncelleme kontrolu zaten suruyor.");
    return;
  }
  FUpdateCheckRunning = true;
  struct TCheck {
    bool Skipped = false;
    bool Read = false;
    bool Newer = false;
    TUpdateInfo Info;
    std::string Error;
  };
  auto check = std::make_shared<TCheck>();
  StartWorker(
      "Guncelleme kontrolu istisnasi",
      [env = &FEnv, exePath = FHooks.ExePath, Manual, check] {
        if (!Manual) {
          if (!ShouldCheckUpdatesToday(*env, kUpdateKeyControl)) {
            check->Skipped = true;
            return;
          }
          RecordUpdateCheckDate(*env, kUpdateKeyControl);
        }
        check->Read = ReadUpdateInfo(*env, check->Info, check->Error);
        if (!check->Read) {
          LogWarnFmt("Guncelleme kontrolu yapilamadi: %s", check->Error);
          return;
        }
        check->Newer = check->Info.Enabled && !IsBlank(check->Info.ControlUrl) && IsUpdateNewer(exePath, check->Info);
      },
      [this, Manual, check](const std::string& Error) {
        FUpdateCheckRunning = false;
        if (check->Skipped) return;
        const std::string error = Error.empty() ? check->Error : Error;
        if (!Error.empty() || !check->Read) {
          if (Manual) FPrompts.Message(this, TMessageKind::Warning, "Güncelleme kontrolü yapılamadı:\r\n" + error);
          return;
        }
        if (check->Newer) {
          OfferUpdate(check->Info);
          return;
        }
        if (Manual)
          FPrompts.Message(this, TMessageKind::Information, "Uygulama güncel. (v" + GetCurrentVersionText() + ")");
      });
}

void TMainForm::OfferUpdate(const TUpdateInfo& Info) {
  if (FOperationRunning) {
    // Never replaced under a running backup or download: asked when it ends.
    FPendingUpdate = Info;
    return;
  }
  std::string question = "Yeni sürüm bulundu: " + Info.Version;
  if (!Info.Notes.empty()) question += "\r\n" + Info.Notes;
  question += "\r\n\r\nŞimdi güncellensin mi? Uygulama yeniden başlatılacak.";
  if (!FPrompts.Confirm(this, question)) return;
  ApplyUpdate(Info);
}

void TMainForm::ApplyUpdate(const TUpdateInfo& Info) {
  BeginOperation("Guncelleme indiriliyor: " + Info.Version);
  FUpdateCheckRunning = true;
  auto outcome = std::make_shared<TOperationOutcome>();
  const std::string exePath = FHooks.ExePath;
  StartWorker(
      "Guncelleme istisnasi",
      [env = &FEnv, exePath, url = Info.ControlUrl, outcome] {
        outcome->Success = DownloadAndReplace(*env, exePath, url, outcome->Message);
      },
      [this, exePath, version = Info.Version, outcome](const std::string& Error) {
        FUpdateCheckRunning = false;
        if (!Error.empty()) *outcome = {false, Error};
        if (!outcome->Success) {
          LogWarnFmt("Guncelleme uygulanamadi: %s", outcome->Message);
          EndOperation();
          FPrompts.Message(this, TMessageKind::Error, "Güncelleme uygulanamadı:\r\n" + outcome->Message);
          return;
        }
        LogInfoFmt("Kontrol uygulamasi %s surumune guncellendi, yeniden baslatiliyor.", version);
        platform::ProcessRequest request;
        request.program = exePath;
        request.workingDirectory = ExtractFileDir(exePath);
        std::string error;
        if (!FEnv.Processes().StartDetached(request, error))
          LogWarnFmt("Guncellenen uygulama baslatilamadi: %s", error);
        FClosing = true;
        FPrompts.QuitApplication();
      });
}

}  // namespace calvora::desktop
