#include "account/uFirebaseActiveAccount.h"

#include "foundation/AppError.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/uLogger.h"
#include "foundation/uSecureString.h"
#include "platform/file_io.h"
#include "platform/file_lock.h"

#include <mutex>

namespace calvora {
namespace {

constexpr const char kSignInFileName[] = "signin.dat";
// Both programs lock this file around every access to the saved sign-in.
constexpr const char kSignInLockName[] = "signin.lock";
constexpr const char kSignInDescription[] = "CalvoraSavedSignIn";
constexpr int kLockWaitMs = 5000;
constexpr int kFileTries = 10;
constexpr int kFileRetryMs = 150;
constexpr std::int64_t kMemoryCopyMs = 60000;

// The memory copy of the saved sign-in; one per environment.
struct TSavedSignInCache {
  std::mutex lock;
  bool valid = false;
  TDateTime keptAt = 0;
  TAccountCredentials credentials;
};

// Runs a file step up to ten times, 150 ms apart; the last failure is
// raised as an EFileError with `what` in front of the reason.
template <typename Step>
auto WithFileRetries(TEnv& env, const std::string& what, Step step) {
  for (int attempt = 1;; ++attempt) {
    try {
      return step();
    } catch (const std::exception& e) {
      if (attempt >= kFileTries) throw EFileError(what + e.what());
    }
    env.Clock().SleepMs(kFileRetryMs);
  }
}

std::string LockPath(TEnv& env) { return JoinPath(env.DataDir(), kSignInLockName); }

bool Fresh(TEnv& env, const TSavedSignInCache& cache) {
  const TDateTime now = env.Now();
  return cache.valid && now >= cache.keptAt && MillisecondsBetween(now, cache.keptAt) < kMemoryCopyMs;
}

}  // namespace

std::string SavedSignInPath(TEnv& env) { return JoinPath(env.DataDir(), kSignInFileName); }

bool HasSavedSignIn(TEnv& env) { return FileExists(SavedSignInPath(env)); }

bool LoadSavedSignIn(TEnv& env, TAccountCredentials& credentials) {
  credentials = TAccountCredentials();
  auto& cache = env.Shared<TSavedSignInCache>();
  std::lock_guard<std::mutex> guard(cache.lock);
  if (Fresh(env, cache)) {
    credentials = cache.credentials;
    return true;
  }
  const std::string path = SavedSignInPath(env);
  if (!FileExists(path)) return false;

  std::string blob;
  {
    // A lock that does not come in time is not an error: read anyway.
    platform::CrossProcessLock lock(LockPath(env));
    lock.TryLockFor(kLockWaitMs);
    blob = WithFileRetries(env, "Kayitli oturum dosyasi okunamadi: ", [&] { return ReadBinaryFile(path); });
  }
  std::string plain, reason;
  if (!MachineProtector().Unprotect(blob, kSignInDescription, plain, reason))
    throw EAppError("Kayitli oturum bilgisi okunamadi: " + reason);
  TJson root;
  if (!TryParseJson(plain, root) || !root.is_object()) return false;
  TAccountCredentials loaded;
  loaded.LoginName = JsonMemberText(root, "Email");
  loaded.Password = JsonMemberText(root, "Sifre");
  loaded.DisplayName = JsonMemberText(root, "Musteri");
  if (loaded.LoginName.empty() || loaded.Password.empty()) return false;
  cache.credentials = loaded;
  cache.keptAt = env.Now();
  cache.valid = true;
  credentials = loaded;
  return true;
}

void SaveSignIn(TEnv& env, const TAccountCredentials& credentials) {
  TJson root = TJson::object();
  root["Email"] = credentials.LoginName;
  root["Sifre"] = credentials.Password;
  root["Musteri"] = credentials.DisplayName;
  std::string blob, reason;
  if (!MachineProtector().Protect(JsonToText(root), kSignInDescription, blob, reason))
    throw EAppError("Kayitli oturum bilgisi korunamadi: " + reason);

  auto& cache = env.Shared<TSavedSignInCache>();
  std::lock_guard<std::mutex> guard(cache.lock);
  const std::string path = SavedSignInPath(env);
  {
    ForceDirectories(env.DataDir());
    platform::CrossProcessLock lock(LockPath(env));
    lock.TryLockFor(kLockWaitMs);
    WithFileRetries(env, "Kayitli oturum dosyasi yazilamadi: ", [&] { platform::WriteSharedProtectedFile(path, blob); });
  }
  cache.credentials = credentials;
  cache.keptAt = env.Now();
  cache.valid = true;
}

void ClearSavedSignIn(TEnv& env) {
  auto& cache = env.Shared<TSavedSignInCache>();
  std::lock_guard<std::mutex> guard(cache.lock);
  cache.valid = false;
  cache.credentials = TAccountCredentials();
  const std::string path = SavedSignInPath(env);
  if (!FileExists(path)) return;
  platform::CrossProcessLock lock(LockPath(env));
  lock.TryLockFor(kLockWaitMs);
  WithFileRetries(env, "Kayitli oturum dosyasi silinemedi: ", [&] {
    if (!DeleteFileIfExists(path) && FileExists(path)) throw EFileError(path);
  });
}

bool GetActiveAccount(TEnv& env, TFirebaseManagedAccount& account, std::string& error) {
  return LookupActiveAccount(env, account, error) == TAccountLookup::Found;
}

TAccountLookup LookupActiveAccount(TEnv& env, TFirebaseManagedAccount& account, std::string& error) {
  account = TFirebaseManagedAccount();
  error.clear();
  TAccountCredentials credentials;
  try {
    if (!LoadSavedSignIn(env, credentials)) {
      error = kNoSavedSignInMessage;
      return TAccountLookup::Failed;
    }
  } catch (const std::exception& e) {
    LogException("Kayitli oturum okunamadi", e);
    error = e.what();
    return TAccountLookup::Failed;
  }
  return LookupManagedAccount(env, credentials.LoginName, account, error);
}

}  // namespace calvora
