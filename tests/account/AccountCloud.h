#pragma once
// The cloud emulator with the built-in service login, and a test
// environment whose deployment points at it.
#include "AccountDirectoryState.h"
#include "DevCloud.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

namespace calvora::test {

class TAccountCloud {
 public:
  static constexpr const char* kServiceEmail = "servis@calvora.test";
  static constexpr const char* kServicePassword = "Sv-9f2kq7LmXw3p";

  TAccountCloud();
  ~TAccountCloud();

  devcloud::DevCloud& Cloud() { return *cloud_; }
  devcloud::AccountDirectoryState& Directory() { return cloud_->Account(); }
  // Every endpoint on the emulator: Google OAuth and Drive, the database
  // BaseUrl()+"/rtdb/" and authentication BaseUrl() with the emulator's API
  // key and the service login; a fallback mail server.
  TDeploymentSettings Deployment() const;
  // GET requests the database answered for the node (and below).
  std::int64_t Reads(const std::string& node) const;
  std::int64_t Patches(const std::string& node) const;

 private:
  TTempDir dir_;
  std::unique_ptr<devcloud::DevCloud> cloud_;
};

// A started emulator and a test environment on it.
class AccountTest : public ::testing::Test {
 protected:
  TEnv& Env() { return testEnv.Env(); }
  TFakeClock& Clock() { return testEnv.Clock(); }
  devcloud::AccountDirectoryState& Directory() { return cloud.Directory(); }
  // Puts a record at "Lisanslar/<key>".
  void AddAccount(const std::string& key, const devcloud::DatabaseJson& record);
  // Saves the sign-in of `login` (the memory copy and the file).
  void SignInAs(const std::string& login, const std::string& password = "pw");

  TAccountCloud cloud;
  TTestEnv testEnv{cloud.Deployment()};
};

}  // namespace calvora::test
