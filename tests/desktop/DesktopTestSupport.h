#pragma once
// The desktop tests' fixture: the cloud emulator with the service login and
// a customer account, a test environment on it with the fake clock, a fake
// systemctl, scripted prompts, and helpers that find widgets by their
// object names. Windows are shown on Qt's offscreen platform.
#include "../account/AccountCloud.h"
#include "../service/ServiceTestSupport.h"

#include "desktop/DesktopPrompts.h"
#include "desktop/frmMain.h"

#include <QLabel>
#include <QWidget>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace calvora::test {

class DesktopTest : public ::testing::Test {
 protected:
  static constexpr const char* kLogin = "ali";
  static constexpr const char* kPassword = "Pa ss";
  static constexpr const char* kCustomer = "Ali Ltd";

  DesktopTest();
  void SetUp() override;
  void TearDown() override;

  TEnv& Env() { return testEnv->Env(); }
  TFakeClock& Clock() { return testEnv->Clock(); }
  devcloud::AccountDirectoryState& Directory() { return cloud.Directory(); }
  devcloud::GoogleState& Google() { return cloud.Cloud().Google(); }

  // The customer "musteri1" (login ali, e-mail ali@firma.tr) and its saved
  // sign-in on this machine.
  void SignIn();
  // A token cache that the emulator accepts, issued to ClientID.
  void SaveGoogleTokens(const std::string& ClientID, int ExpiresInMinutes = 60);

  // The service manager's answer from now on: "none" (no unit), "inactive",
  // "activating", "deactivating", "active", or "deny" (the query fails).
  void SetServiceState(const std::string& State);

  // The main window on the test environment, shown and idle.
  desktop::TMainForm& OpenMain(desktop::TMainFormHooks Hooks = {});

  template <typename T>
  T* Find(const char* Name) {
    T* widget = main->findChild<T*>(Name);
    EXPECT_NE(widget, nullptr) << Name;
    return widget;
  }
  std::string Text(const char* LabelName);
  std::string CardValue(const char* CardName);
  std::string StatusPanel(int Index);
  void Click(const char* ButtonName);
  void Trigger(const char* ActionName);
  // Handles events until Done holds or Ms pass.
  bool WaitUntil(const std::function<bool()>& Done, int Ms = 10000);

  TAccountCloud cloud;
  TRecordingRunner runner;  // records detached starts
  std::unique_ptr<TTestEnv> testEnv;
  desktop::TScriptedPrompts prompts;
  std::unique_ptr<desktop::TMainForm> main;
  std::string exePath;  // the main window's "running executable"
  std::string fakeDir, unitDir;
};

// The text of a plan list or details list row.
std::string RowText(QWidget* List, int Row, int Column);
int RowCount(QWidget* List);
// Frees the windows that asked to be deleted (closed with WA_DeleteOnClose).
void FlushDeletes();

}  // namespace calvora::test
