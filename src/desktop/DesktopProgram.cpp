#include "desktop/DesktopProgram.h"

#include "desktop/DesktopPalette.h"
#include "desktop/DesktopText.h"
#include "desktop/frmAccountLogin.h"
#include "desktop/frmMain.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "platform/paths.h"
#include "service/uAppUpdater.h"
#include "service/uServiceManager.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleFactory>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace calvora::desktop {
namespace {

void ShowBox(QMessageBox::Icon Icon, const QString& Caption, const std::string& Text) {
  QMessageBox box(Icon, Caption, Q(Text), QMessageBox::Ok);
  box.button(QMessageBox::Ok)->setText("Tamam");
  box.exec();
}

// The service operation asked for on the command line; the exit code.
int RunServiceOperationCommand(int argc, char** argv, const std::vector<std::string>& Arguments) {
  std::string message;
  bool success = false;
  int exitCode = 1;
  if (!HasDisplay()) {
    // No window can be shown: the text goes to standard output.
    HandleServiceOperationCommandLine(TEnv::Process(), Arguments, message, success, exitCode);
    std::printf("%s: %s\n", kBackupServiceDisplayName, message.c_str());
    return exitCode;
  }
  QApplication application(argc, argv);
  SetUpDesktopApplication();
  HandleServiceOperationCommandLine(TEnv::Process(), Arguments, message, success, exitCode);
  ShowBox(success ? QMessageBox::Information : QMessageBox::Critical, kBackupServiceDisplayName, message);
  return exitCode;
}

}  // namespace

void SetUpDesktopApplication() {
  QApplication::setApplicationName(kApplicationTitle);
  // The same look on every desktop.
  if (QStyle* fusion = QStyleFactory::create("Fusion")) QApplication::setStyle(fusion);
  QApplication::setFont(DesktopFont(10));
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    if (!platform::EnvOr(name, "").empty()) return true;
  return false;
}

int RunDesktopSession(TEnv& Env, TDesktopPrompts& Prompts, bool Maximized) {
  // Before any window, so the sign-in window's lines are kept too.
  InitLog(Env.DataDir());
  // The program ends with the main window, not with the sign-in window nor
  // with the last of the others.
  QApplication::setQuitOnLastWindowClosed(false);
  {
    TAccountLoginForm login(Env, Prompts);
    if (!login.Execute()) return 0;
  }
  TMainForm main(Env, Prompts);
  QObject::connect(&main, &TMainForm::Closed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  if (Maximized)
    main.showMaximized();
  else
    main.show();
  const int code = QApplication::exec();
  // Monitor and cloud-file windows end with the program.
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window != &main && window->testAttribute(Qt::WA_DeleteOnClose)) delete window;
  return code;
}

int RunDesktopProgram(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  for (const std::string& argument : arguments)
    if (SameText(argument, "--version")) {
      std::printf("%s\n", GetCurrentVersionText().c_str());
      return 0;
    }
  try {
    if (!ServiceOperationFromArguments(arguments).empty()) return RunServiceOperationCommand(argc, argv, arguments);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Calvora: %s\n", e.what());
    return 1;
  }
  if (!HasDisplay()) {
    std::fprintf(stderr,
                 "Calvora: pencereleri gosterecek bir ekran yok (DISPLAY tanimli degil).\n"
                 "Kullanim: Calvora --service-op install|uninstall|start|stop\n");
    return 1;
  }

  QApplication application(argc, argv);
  SetUpDesktopApplication();
  try {
    TQtDesktopPrompts prompts;
    return RunDesktopSession(TEnv::Process(), prompts);
  } catch (const std::exception& e) {
    LogException("Uygulama baslatilamadi", e);
    ShowBox(QMessageBox::Critical, kApplicationTitle, std::string("Uygulama baslatilamadi: ") + e.what());
    return 1;
  }
}

}  // namespace calvora::desktop
