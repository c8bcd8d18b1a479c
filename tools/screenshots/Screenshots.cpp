// calvora-screenshots <appDir> <outDir>
//
// Opens the desktop's windows on the program folder <appDir> (its
// deployment file, data directory "config" and saved sign-in, as the demo
// prepares them) and writes one PNG of each into <outDir>: the sign-in
// window, the sign-in window after a wrong password, the main window with a
// plan selected, the main window while a manual run uploads, and the
// windows the main window opens. Dialogs are answered from a script, so
// nothing waits for a person.
#include "desktop/DesktopProgram.h"
#include "desktop/DesktopPrompts.h"
#include "desktop/DesktopText.h"
#include "desktop/frmAccountLogin.h"
#include "desktop/frmMain.h"
#include "desktop/frmPlanDriveFiles.h"
#include "desktop/frmPlanMonitor.h"
#include "desktop/frmSQLTaskEdit.h"
#include "desktop/frmSettings.h"
#include "foundation/Env.h"
#include "foundation/uLogger.h"
#include "runner/uBackupPlanRunner.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QThread>
#include <QTreeWidget>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

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

  main.findChild<QAbstractButton*>("ToolButton3")->click();
  Settle(600);
  ok &= Save(main, OutDir, "main-run");
  release = true;
  main.WaitForWorkers(30000);

  TBackupPlan plan = main.Plans().empty() ? TBackupPlan() : main.Plans().front();
  {
    // One editor per plan type at its smallest size, and a refused save.
    TBackupPlan sql = plan;
    sql.BackupType = "sql";
    sql.DatabaseName = "Muhasebe;Stok;Personel";
    TBackupPlan folder = plan;
    folder.BackupType = "folder";
    folder.SourceFolder = "/srv/ofis/Belgeler";
    TBackupPlan firebird = plan;
    firebird.BackupType = "firebird";
    firebird.DatabaseName = "/var/lib/firebird/data/muhasebe.fdb";
    const std::pair<const char*, TBackupPlan> editors[] = {
        {"task-editor-sql", sql}, {"task-editor-folder", folder}, {"task-editor-firebird", firebird}};
    for (const auto& [name, one] : editors) {
      TSQLTaskEditForm editor(env, prompts, &main);
      editor.LoadPlan(one);
      editor.resize(TSQLTaskEditForm::kMinWidth, TSQLTaskEditForm::kMinHeight);
      editor.show();
      ok &= Save(editor, OutDir, name);
    }
    TSQLTaskEditForm editor(env, prompts, &main);
    editor.LoadPlan(sql);
    editor.findChild<QLineEdit*>("edtName")->clear();
    editor.resize(TSQLTaskEditForm::kMinWidth, TSQLTaskEditForm::kMinHeight);
    editor.show();
    TQtDesktopPrompts real;
    QTimer::singleShot(300, [&] {
      for (QWidget* top : QApplication::topLevelWidgets())
        if (top->inherits("QMessageBox") && top->isVisible()) {
          Save(*top, OutDir, "task-editor-validation");
          top->close();
        }
    });
    real.Message(&editor, TMessageKind::Warning, "Gorev adi zorunlu.");
  }
  {
    TSettingsForm settings(env, prompts, &main);
    settings.show();
    auto* tabs = settings.findChild<QTabWidget*>("pcSettings");
    const char* names[] = {"settings-cloud", "settings-sql", "settings-firebird", "settings-plans", "settings-service"};
    for (int i = 0; i < tabs->count(); ++i) {
      tabs->setCurrentIndex(i);
      ok &= Save(settings, OutDir, names[i]);
    }
  }
  {
    TPlanMonitorForm monitor(env, plan.ID);
    monitor.show();
    ok &= Save(monitor, OutDir, "monitor");
  }
  {
    TPlanDriveFilesForm files(env, prompts, plan);
    files.show();
    ok &= Save(files, OutDir, "drive-files");
  }
  main.close();
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
