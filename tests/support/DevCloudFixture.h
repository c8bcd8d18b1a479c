#pragma once
// The local cloud emulator for tests: started on a free loopback port in a
// temporary folder, with deployment settings that point every endpoint at
// it and a valid Google token pair.
#include "DevCloud.h"
#include "GoogleState.h"
#include "TestSupport.h"
#include "foundation/uDeploymentSettings.h"

#include <memory>
#include <string>

namespace calvora::test {

class TDevCloudFixture {
 public:
  static constexpr const char* kClientID = "123456789012-devcloudtestclient.apps.googleusercontent.com";
  static constexpr const char* kClientSecret = "GOCSPX-devcloud-test-secret";

  // Starts the emulator (throws when it cannot) and registers the OAuth
  // client above.
  TDevCloudFixture();
  ~TDevCloudFixture();
  TDevCloudFixture(const TDevCloudFixture&) = delete;
  TDevCloudFixture& operator=(const TDevCloudFixture&) = delete;

  devcloud::DevCloud& Cloud() { return *cloud_; }
  devcloud::GoogleState& Google() { return cloud_->Google(); }
  std::string BaseUrl() const { return cloud_->BaseUrl(); }
  const std::string& DataDir() const { return dir_.Path(); }

  // Google OAuth and Drive endpoints, the OAuth client above, and the
  // account directory (database "<base>/rtdb/", the emulator's API key).
  TDeploymentSettings Deployment() const;
  // A token pair the emulator accepts (access token valid for an hour).
  const std::string& AccessToken() const { return accessToken_; }
  const std::string& RefreshToken() const { return refreshToken_; }
  std::string RootFolderId() { return Google().RootFolderId(); }

 private:
  TTempDir dir_;
  std::unique_ptr<devcloud::DevCloud> cloud_;
  std::string accessToken_;
  std::string refreshToken_;
};

}  // namespace calvora::test
