#include "AccountCloud.h"

#include "account/uFirebaseActiveAccount.h"

namespace calvora::test {

TAccountCloud::TAccountCloud() : cloud_(std::make_unique<devcloud::DevCloud>(dir_.Path())) {
  if (!cloud_->Start()) throw std::runtime_error("the cloud emulator did not start");
  cloud_->Account().AddUser(kServiceEmail, kServicePassword);
}

TAccountCloud::~TAccountCloud() { cloud_->Stop(); }

TDeploymentSettings TAccountCloud::Deployment() const {
  TDeploymentSettings deployment;
  const std::string base = cloud_->BaseUrl();
  deployment.GoogleAuthEndpoint = base + "/o/oauth2/v2/auth";
  deployment.GoogleTokenEndpoint = base + "/token";
  deployment.DriveApiBase = base;
  deployment.DriveUploadBase = base;
  deployment.FirebaseApiKey = cloud_->Account().ApiKey();
  deployment.FirebaseDatabaseURL = cloud_->BaseUrl() + "/rtdb/";
  deployment.FirebaseAuthBase = cloud_->BaseUrl();
  deployment.FirebaseTokenBase = cloud_->BaseUrl();
  deployment.ServiceEmail = kServiceEmail;
  deployment.ServicePassword = kServicePassword;
  deployment.SmtpHost = "smtp.calvora.test";
  deployment.SmtpPort = 587;
  deployment.SmtpSender = "rapor@calvora.test";
  deployment.SmtpPassword = "mailbox-secret";
  return deployment;
}

std::int64_t TAccountCloud::Reads(const std::string& node) const {
  return cloud_->RequestCount("GET", "/rtdb/" + node);
}

std::int64_t TAccountCloud::Patches(const std::string& node) const {
  return cloud_->RequestCount("PATCH", "/rtdb/" + node);
}

void AccountTest::AddAccount(const std::string& key, const devcloud::DatabaseJson& record) {
  Directory().Write("Lisanslar/" + key, record);
}

void AccountTest::SignInAs(const std::string& login, const std::string& password) {
  SaveSignIn(Env(), TAccountCredentials{login, password, login});
}

}  // namespace calvora::test
