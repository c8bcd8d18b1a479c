#pragma once
// An account test whose Drive client talks to the emulator with a valid
// token.
#include "../account/AccountCloud.h"

#include "GoogleState.h"
#include "google/uGoogleAuth.h"
#include "google/uGoogleDrive.h"

#include <memory>

namespace calvora::test {

class AccountDriveTest : public AccountTest {
 protected:
  void SetUp() override {
    const auto tokens = Google().MintTokens("devcloud-client", 3600);
    auth = std::make_unique<TGoogleAuth>(Env(), "devcloud-client", "secret", 8080, false);
    auth->SetTokenData(TTokenData{tokens.accessToken, tokens.refreshToken, IncHours(Clock().Now(), 1)});
    drive = std::make_unique<TGoogleDrive>(*auth);
  }
  devcloud::GoogleState& Google() { return cloud.Cloud().Google(); }

  std::unique_ptr<TGoogleAuth> auth;
  std::unique_ptr<TGoogleDrive> drive;
};

}  // namespace calvora::test
