// calvora-screenshots <appDir> <outDir>
//
// Opens the desktop's windows on the program folder <appDir> (its
// deployment file, data directory "config" and saved sign-in, as the demo
// prepares them) and writes one PNG of each into <outDir>: the sign-in
// window, the sign-in window after a wrong password, the main window with a
// plan selected, the main window while a manual run uploads, the monitor
// during that run, the windows the main window opens (the cloud files of the
// folder plan, the revisions of one of its files, one pinned), and the restore
// tool at each of its steps (restoring one file of the folder plan into
// "<appDir>/../restored-shot"). Dialogs are answered from a script, so
// nothing waits for a person.
#include "desktop/DesktopProgram.h"
#include "desktop/DesktopPrompts.h"
#include "desktop/DesktopText.h"
#include "desktop/frmAccountLogin.h"
#include "desktop/frmDriveFileRevisions.h"
#include "desktop/frmMain.h"
#include "desktop/frmPlanDriveFiles.h"
#include "desktop/frmPlanMonitor.h"
#include "desktop/frmRestore.h"
#include "desktop/frmSQLTaskEdit.h"
#include "desktop/frmSettings.h"
#include "engine/uCloudBackup.h"
#include "foundation/Env.h"
#include "foundation/TextFile.h"
#include "foundation/uLogger.h"
#include "runner/uBackupPlanRunner.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>

#include <atomic>
#include <filesystem>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace calvora;
using namespace calvora::desktop;

struct TAppEnv {
  explicit TAppEnv(const std::string& appDir) {
    TConfigLocations locations;
    locations.ExecutableDir = appDir;
    locations.ProgramData = appDir + "/programdata";
    locations.AppData = appDir + "/appdata";
    locations.Deployment = LoadDeploymentSettings(appDir + "/deployment.ini");
    config = std::make_unique<TAppConfig>(locations);
    env = std::make_unique<TEnv>(*config, locations.Deployment, SystemClock(), platform::SystemProcessRunner(), appDir,
                                 appDir + "/tmp");
  }
  std::unique_ptr<TAppConfig> config;
  std::unique_ptr<TEnv> env;
};

void Settle(int Ms = 150) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < Ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool Save(QWidget& Window, const std::string& OutDir, const char* Name) {
  Window.raise();
  Window.activateWindow();
  Settle();
  const std::string path = OutDir + "/" + Name + ".png";
  if (!Window.grab().save(QString::fromStdString(path))) {
    std::fprintf(stderr, "calvora-screenshots: could not write %s\n", path.c_str());
    return false;
  }
  std::printf("  %s\n", path.c_str());
  return true;
}

// A history for the first file of the list: three more contents, the
// second oldest revision pinned, as a customer would after a few runs.
bool GiveRevisions(TEnv& Env, TDriveFileInfo& File, const std::vector<TDriveFileInfo>& Files) {
  if (Files.empty()) return false;
  File = Files.front();
  TCloudBackupService engine(Env.Config().GetMSSQLBackupConfig(), Env);
  std::vector<TDriveRevisionInfo> revisions;
  std::string message;
  if (!engine.ListDriveFileRevisions(File.FileID, revisions, message)) return false;
  const std::string local = Env.TempDir() + "/surum.txt";
  for (size_t i = revisions.size(); i < 4; ++i) {
    QThread::msleep(1100);  // revisions a second apart, so each has its own time
    WriteTextFile(local, "Surum " + std::to_string(i + 1) + "\n" + std::string(2048 * (i + 1), 'x'), false);
    if (engine.GoogleDrive().UpdateFileContent(File.FileID, local).FileID.empty()) return false;
  }
  DeleteFileIfExists(local);
  if (!engine.ListDriveFileRevisions(File.FileID, revisions, message) || revisions.size() < 2) return false;
  if (TCloudBackupService::PinnedRevisionCount(revisions) == 0)
    return engine.SetDriveRevisionKeepForever(File.FileID, revisions[1].RevisionID, true, message);
  return true;
}

// Selects the first row whose text holds Part (the first row when none).
void SelectRow(QListWidget* List, const char* Part) {
  for (int i = 0; i < List->count(); ++i)
    if (List->item(i)->text().contains(QString::fromUtf8(Part))) {
      List->setCurrentRow(i);
      return;
    }
  if (List->count() > 0) List->setCurrentRow(0);
}

bool SaveRestoreSteps(TEnv& Env, TScriptedPrompts& Prompts, const std::string& AppDir, const std::string& OutDir) {
  const std::string target = std::filesystem::path(AppDir + "/../restored-shot").lexically_normal().string();
  std::error_code ec;
  std::filesystem::remove_all(target, ec);
  TRestoreForm form(Env, Prompts);
  form.show();
  form.LoadPlans();
  auto next = [&] { form.findChild<QPushButton*>("btnNext")->click(); };
  bool ok = true;
  SelectRow(form.findChild<QListWidget*>("lstPlans"), "Ofis");
  ok &= Save(form, OutDir, "restore-1-plan");
  next();
  SelectRow(form.findChild<QListWidget*>("lstBackups"), "OKUBENI");
  ok &= Save(form, OutDir, "restore-2-backup");
  next();
  ok &= Save(form, OutDir, "restore-3-version");
  next();
  form.findChild<QLineEdit*>("edtTarget")->setText(QString::fromStdString(target));
  ok &= Save(form, OutDir, "restore-4-target");
  next();
  form.WaitForRestore();
  ok &= Save(form, OutDir, "restore-5-done");
  if (!form.LastResult().Success) std::fprintf(stderr, "restore: %s\n", form.LastResult().Message.c_str());
  return ok && form.LastResult().Success;
}

int Run(const std::string& AppDir, const std::string& OutDir) {
  TAppEnv app(AppDir);
  TEnv& env = *app.env;
  InitLog(env.DataDir());
  TScriptedPrompts prompts;
  bool ok = true;

  {
    TAccountLoginForm login(env, prompts);
    login.PrepareForShow();
    login.show();
    ok &= Save(login, OutDir, "signin");
    login.findChild<QLineEdit*>("edtPassword")->setText("yanlis-parola");
    login.findChild<QPushButton*>("btnLogin")->click();
    ok &= Save(login, OutDir, "signin-error");
  }

  // The manual run goes through the real runner; its backup reports an
  // upload under way and holds until the picture is taken.
  std::atomic<bool> release{false};
  TMainFormHooks hooks;
  hooks.RunPlan = [&](const std::string& PlanID, std::string& Message, const TUploadProgress& Progress) {
    TBackupPlanRunner runner(
        env, [&](TBackupPlan&, const TUploadProgress& Report, std::string& BackupFile, std::string& Text) {
          for (std::int64_t sent = 0; sent <= 425; sent += 25) {
            Report(sent * 1024 * 1024, 1000LL * 1024 * 1024);
            QThread::msleep(5);
          }
          while (!release) QThread::msleep(20);
          BackupFile = "Ofis Belgeler";
          Text = "Ekran goruntusu icin kisa calisma.";
          return true;
        });
    return runner.RunBackupPlanById(PlanID, Message, Progress);
  };
  TMainForm main(env, prompts, hooks);
  main.resize(1366, 768);
  main.show();
  main.WaitForWorkers(30000);
  auto* plans = main.findChild<QTreeWidget*>("ListViewFiles");
  if (plans->topLevelItemCount() > 0) plans->setCurrentItem(plans->topLevelItem(0));
  ok &= Save(main, OutDir, "main");

  TBackupPlan plan = main.Plans().empty() ? TBackupPlan() : main.Plans().front();
  for (const TBackupPlan& candidate : main.Plans())
    if (IsFolderPlan(candidate)) {
      plan = candidate;
      break;
    }
  main.findChild<QAbstractButton*>("ToolButton3")->click();
  Settle(600);
  ok &= Save(main, OutDir, "main-run");
  {
    // The monitor of the plan being run, while it runs.
    TPlanMonitorForm monitor(env, main.Plans().empty() ? std::string() : main.Plans().front().ID);
    monitor.show();
    ok &= Save(monitor, OutDir, "monitor-run");
  }
  release = true;
  main.WaitForWorkers(30000);

  {
    TSQLTaskEditForm editor(env, &main);
    editor.LoadPlan(plan);
    editor.show();
    ok &= Save(editor, OutDir, "task-editor");
  }
  {
    TSettingsForm settings(env, prompts, &main);
    settings.show();
    ok &= Save(settings, OutDir, "settings");
  }
  TDriveFileInfo historyFile;
  {
    TPlanDriveFilesForm files(env, prompts, plan);
    files.show();
    ok &= Save(files, OutDir, "drive-files");
    if (!GiveRevisions(env, historyFile, files.Files())) {
      std::fprintf(stderr, "calvora-screenshots: no revision history could be made\n");
      ok = false;
    }
  }
  if (!historyFile.FileID.empty()) {
    TDriveFileRevisionsForm revisions(env, prompts, historyFile);
    auto* list = revisions.findChild<QTreeWidget*>("FListView");
    if (list->topLevelItemCount() > 2) list->setCurrentItem(list->topLevelItem(2));
    revisions.show();
    ok &= Save(revisions, OutDir, "drive-revisions");
  }
  main.close();
  ok &= SaveRestoreSteps(env, prompts, AppDir, OutDir);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: calvora-screenshots <appDir> <outDir>\n");
    return 2;
  }
  QApplication application(argc, argv);
  SetUpDesktopApplication();
  try {
    return Run(argv[1], argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "calvora-screenshots: %s\n", e.what());
    return 1;
  }
}
