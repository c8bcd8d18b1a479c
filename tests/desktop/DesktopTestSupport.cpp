#include "DesktopTestSupport.h"

#include "account/uFirebaseActiveAccount.h"
#include "desktop/DesktopText.h"
#include "foundation/TextFile.h"
#include "google/uGoogleAuth.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QStatusBar>
#include <QTreeWidget>

#include <cstdlib>
#include <filesystem>

namespace calvora::test {
namespace {

// One application object for the whole test program, on the offscreen
// platform unless another was asked for.
class TQtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "desktop_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const gQt = ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

TDeploymentSettings DesktopDeployment(const TAccountCloud& cloud) {
  TDeploymentSettings deployment = cloud.Deployment();
  deployment.GoogleClientID = TDevCloudFixture::kClientID;
  deployment.GoogleClientSecret = TDevCloudFixture::kClientSecret;
  return deployment;
}

}  // namespace

DesktopTest::DesktopTest() : testEnv(std::make_unique<TTestEnv>(DesktopDeployment(cloud), &runner)) {}

void DesktopTest::SetUp() {
  Google().RegisterClient(TDevCloudFixture::kClientID, TDevCloudFixture::kClientSecret);
  Directory().Write(
      "Lisanslar/musteri1",
      devcloud::DatabaseJson{
          {"LoginName", kLogin}, {"Email", "ali@firma.tr"}, {"Sifre", kPassword}, {"Musteri", kCustomer}});
  fakeDir = testEnv->Root() + "/systemctl";
  unitDir = testEnv->Root() + "/units";
  ForceDirectories(fakeDir);
  ForceDirectories(unitDir);
  std::filesystem::copy_file(SourceDir() + "/tests/service/fake_systemctl.py", fakeDir + "/systemctl");
  setenv("CALVORA_SYSTEMCTL", (fakeDir + "/systemctl").c_str(), 1);
  setenv("CALVORA_SYSTEMD_UNIT_DIR", unitDir.c_str(), 1);
  // The test program itself: it carries the version marker.
  exePath = testEnv->ProgramDir() + "/Calvora";
  WriteFile(exePath, FakeExecutable(CALVORA_VERSION));
}

void DesktopTest::TearDown() {
  if (main) {
    main->WaitForWorkers(20000);
    main.reset();
  }
  unsetenv("CALVORA_SYSTEMCTL");
  unsetenv("CALVORA_SYSTEMD_UNIT_DIR");
  FinalizeLog();
}

void DesktopTest::SignIn() { SaveSignIn(Env(), TAccountCredentials{kLogin, kPassword, kCustomer}); }

void DesktopTest::SaveGoogleTokens(const std::string& ClientID, int ExpiresInMinutes) {
  const auto tokens = Google().MintTokens(ClientID, 3600);
  TGoogleAuth auth(Env(), ClientID, "", 8080, false);
  auth.SetTokenData(TTokenData{tokens.accessToken, tokens.refreshToken, IncMinutes(Clock().Now(), ExpiresInMinutes)});
  auth.SaveTokens(testEnv->Config().GetGoogleTokenCachePath());
}

void DesktopTest::SetServiceState(const std::string& State) {
  const std::string unit = unitDir + "/CalvoraBackupService.service";
  std::filesystem::remove(fakeDir + "/deny");
  std::filesystem::remove(unit);
  if (State == "deny") {
    WriteFile(fakeDir + "/deny", "");
    return;
  }
  if (State == "none") return;
  WriteFile(unit, "[Unit]\n");
  WriteFile(fakeDir + "/systemctl-state.json", "{\"active\": \"" + State + "\", \"enabled\": true}");
}

desktop::TMainForm& DesktopTest::OpenMain(desktop::TMainFormHooks Hooks) {
  if (Hooks.ExePath.empty()) Hooks.ExePath = exePath;
  main = std::make_unique<desktop::TMainForm>(Env(), prompts, std::move(Hooks));
  main->show();
  EXPECT_TRUE(main->WaitForWorkers(20000));
  return *main;
}

std::string DesktopTest::Text(const char* LabelName) {
  auto* label = Find<QLabel>(LabelName);
  return label ? desktop::S(label->text()) : std::string();
}

std::string DesktopTest::CardValue(const char* CardName) {
  auto* card = Find<QWidget>(CardName);
  auto* value = card ? card->findChild<QLabel*>("Value") : nullptr;
  return value ? desktop::S(value->text()) : std::string();
}

std::string DesktopTest::StatusPanel(int Index) {
  auto* panel = main->statusBar()->findChild<QLabel*>(QString("StatusPanel%1").arg(Index));
  return panel ? desktop::S(panel->text()) : std::string();
}

void DesktopTest::Click(const char* ButtonName) {
  auto* button = Find<QAbstractButton>(ButtonName);
  ASSERT_NE(button, nullptr);
  button->click();
}

void DesktopTest::Trigger(const char* ActionName) {
  auto* action = Find<QAction>(ActionName);
  ASSERT_NE(action, nullptr);
  action->trigger();
}

bool DesktopTest::WaitUntil(const std::function<bool()>& Done, int Ms) {
  QElapsedTimer timer;
  timer.start();
  while (!Done()) {
    if (timer.elapsed() > Ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

std::string RowText(QWidget* List, int Row, int Column) {
  auto* tree = qobject_cast<QTreeWidget*>(List);
  if (!tree || Row >= tree->topLevelItemCount()) return "<no row>";
  return desktop::S(tree->topLevelItem(Row)->text(Column));
}

void FlushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

int RowCount(QWidget* List) {
  auto* tree = qobject_cast<QTreeWidget*>(List);
  return tree ? tree->topLevelItemCount() : -1;
}

}  // namespace calvora::test
