#include "account/uFirebaseServiceAuth.h"

#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "foundation/uSecureString.h"
#include "platform/file_io.h"

#include <mutex>

namespace calvora {
namespace {

constexpr const char kTokenFileName[] = "service_token.dat";
constexpr const char kTokenDescription[] = "FirebaseServiceToken";
constexpr int kRenewBeforeSeconds = 300;
constexpr long long kDefaultLifetimeSeconds = 3600;

// The in-memory level of the token cache; one per environment.
struct TServiceTokenCache {
  std::mutex lock;
  std::string token;
  TDateTime expiry = 0;
};

// Replaces the memory values with what the disk cache holds; anything
// unreadable counts as no cache.
void LoadDiskCache(TEnv& env, TServiceTokenCache& cache) {
  const std::string path = TFirebaseServiceAuth::TokenCachePath(env);
  if (!FileExists(path)) return;
  cache.token.clear();
  cache.expiry = 0;
  try {
    TJson root;
    if (!TryParseJson(ReadTextFile(path), root) || !root.is_object()) return;
    std::string token;
    if (!UnprotectMachineScope(JsonMemberText(root, "token"), kTokenDescription, token)) token.clear();
    TDateTime expiry = 0;
    if (auto it = root.find("expiry"); it != root.end() && it->is_number()) expiry = it->get<double>();
    cache.token = token;
    cache.expiry = expiry;
  } catch (const std::exception&) {
    cache.token.clear();
    cache.expiry = 0;
  }
}

// A token that cannot be kept on disk still serves this process.
void SaveDiskCache(TEnv& env, const TServiceTokenCache& cache) {
  try {
    std::string sealed, error;
    if (!ProtectMachineScope(cache.token, kTokenDescription, sealed, error)) {
      LogWarnFmt("Servis token onbellegi korunamadi: %s", error);
      return;
    }
    TJson root = TJson::object();
    root["token"] = sealed;
    root["expiry"] = cache.expiry;
    ForceDirectories(env.DataDir());
    platform::WriteSharedProtectedFile(TFirebaseServiceAuth::TokenCachePath(env), JsonToText(root));
  } catch (const std::exception& e) {
    LogException("Servis token onbellegi yazilamadi", e);
  }
}

// Forgets a token the database refused, in memory and on disk; a newer token
// another caller got meanwhile is kept.
void DropRefusedToken(TEnv& env, const std::string& refused) {
  auto& cache = env.Shared<TServiceTokenCache>();
  std::lock_guard<std::mutex> guard(cache.lock);
  if (cache.token == refused) {
    cache.token.clear();
    cache.expiry = 0;
  }
  TServiceTokenCache disk;
  LoadDiskCache(env, disk);
  if (!disk.token.empty() && disk.token == refused) DeleteFileIfExists(TFirebaseServiceAuth::TokenCachePath(env));
}

constexpr int kUnauthorized = 401;

}  // namespace

std::string TFirebaseServiceAuth::TokenCachePath(TEnv& env) { return JoinPath(env.DataDir(), kTokenFileName); }

bool TFirebaseServiceAuth::GetAuthenticatedManager(TEnv& env, std::unique_ptr<TFirebaseManager>& Manager,
                                                   std::string& ErrorMessage) {
  ErrorMessage.clear();
  Manager.reset();
  const TDeploymentSettings& deployment = env.Deployment();
  auto manager = std::make_unique<TFirebaseManager>(deployment.FirebaseApiKey, deployment.FirebaseDatabaseURL,
                                                    std::string(), deployment.FirebaseAuthBase);

  // Held through the sign-in, so concurrent callers share one new token.
  auto& cache = env.Shared<TServiceTokenCache>();
  std::lock_guard<std::mutex> guard(cache.lock);
  if (!cache.token.empty() && env.Now() < cache.expiry) {
    manager->Client().SetAuthToken(cache.token);
    Manager = std::move(manager);
    return true;
  }
  LoadDiskCache(env, cache);
  if (!cache.token.empty() && env.Now() < cache.expiry) {
    manager->Client().SetAuthToken(cache.token);
    Manager = std::move(manager);
    return true;
  }

  try {
    TAuthResponse response = manager->Login(deployment.ServiceEmail, deployment.ServicePassword);
    if (response.Success) {
      long long lifetime = 0;
      if (!TryParseInt64(response.ExpiresIn, lifetime)) lifetime = kDefaultLifetimeSeconds;
      cache.token = response.IdToken;
      cache.expiry = IncSeconds(env.Now(), lifetime - kRenewBeforeSeconds);
      SaveDiskCache(env, cache);
      Manager = std::move(manager);
      return true;
    }
    ErrorMessage = "Firebase baglantisi basarisiz: " + response.ErrorMessage;
  } catch (const std::exception& e) {
    LogException("Firebase servis girisi", e);
    ErrorMessage = std::string("Firebase baglantisi kurulurken hata: ") + e.what();
  }
  return false;
}

bool TFirebaseServiceAuth::Request(TEnv& env, const std::string& Method, const std::string& Path, const TJson* Data,
                                   TFirebaseResponse& Answer, std::string& ErrorMessage) {
  Answer = TFirebaseResponse();
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::unique_ptr<TFirebaseManager> manager;
    if (!GetAuthenticatedManager(env, manager, ErrorMessage)) return false;
    Answer = manager->Client().Request(Method, Path, Data);
    if (Answer.Status != kUnauthorized) break;
    LogWarnFmt("Firebase servis tokeni reddedildi (HTTP %d); yeniden giris yapiliyor.", Answer.Status);
    DropRefusedToken(env, manager->Client().AuthToken());
  }
  return true;
}

void TFirebaseServiceAuth::ClearCache(TEnv& env) {
  auto& cache = env.Shared<TServiceTokenCache>();
  std::lock_guard<std::mutex> guard(cache.lock);
  cache.token.clear();
  cache.expiry = 0;
  DeleteFileIfExists(TokenCachePath(env));
}

}  // namespace calvora
