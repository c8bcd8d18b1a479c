#include "DevCloudFixture.h"

#include "AccountDirectoryState.h"

#include <stdexcept>

namespace calvora::test {

TDevCloudFixture::TDevCloudFixture() : cloud_(std::make_unique<devcloud::DevCloud>(dir_.Path())) {
  if (!cloud_->Start()) throw std::runtime_error("the cloud emulator did not start");
  cloud_->Google().RegisterClient(kClientID, kClientSecret);
  auto tokens = cloud_->Google().MintTokens(kClientID, 3600);
  accessToken_ = tokens.accessToken;
  refreshToken_ = tokens.refreshToken;
}

TDevCloudFixture::~TDevCloudFixture() { cloud_->Stop(); }

TDeploymentSettings TDevCloudFixture::Deployment() const {
  TDeploymentSettings deployment;
  const std::string base = cloud_->BaseUrl();
  deployment.GoogleClientID = kClientID;
  deployment.GoogleClientSecret = kClientSecret;
  deployment.GoogleAuthEndpoint = base + "/o/oauth2/v2/auth";
  deployment.GoogleTokenEndpoint = base + "/token";
  deployment.DriveApiBase = base;
  deployment.DriveUploadBase = base;
  deployment.FirebaseApiKey = cloud_->Account().ApiKey();
  deployment.FirebaseDatabaseURL = base + "/rtdb/";
  deployment.FirebaseAuthBase = base;
  deployment.FirebaseTokenBase = base;
  return deployment;
}

}  // namespace calvora::test
