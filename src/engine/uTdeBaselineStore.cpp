#include "engine/uTdeBaselineStore.h"

#include "foundation/AppError.h"
#include "foundation/DateTime.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

namespace calvora {
namespace {

TJson LoadBaseline(const std::string& path) {
  if (!FileExists(path)) return TJson::object();
  try {
    TJson value;
    if (!TryParseJson(ReadTextFile(path), value)) return TJson::object();
    if (!value.is_object()) throw EConvertError("TDE baseline icerigi bir JSON nesnesi degil.");
    return value;
  } catch (const std::exception& e) {
    LogException("TDE baseline dosyasi okunamadi, yeniden olusturulacak: " + path, e);
    return TJson::object();
  }
}

void SaveBaseline(const TEnv& env, const std::string& path, const TJson& baseline) {
  if (!ForceDirectories(env.DataDir())) throw EFileError("Klasor olusturulamadi: " + env.DataDir());
  WriteTextFile(path, JsonToText(baseline), true);
}

}  // namespace

std::string TdeBaselinePath(const TEnv& Env) { return JoinPath(Env.DataDir(), "tdebaseline.json"); }

std::string NormalizeTdeThumbprint(const std::string& Thumbprint) {
  std::string value = UpperAscii(Trim(Thumbprint));
  return value.empty() ? kTdeNoEncryption : value;
}

int CheckTdeBaseline(const TEnv& Env, const std::string& Server, const std::string& Database,
                     const std::string& Thumbprint, std::string& Previous) {
  Previous.clear();
  const std::string current = NormalizeTdeThumbprint(Thumbprint);
  const std::string path = TdeBaselinePath(Env);
  TJson baseline = LoadBaseline(path);
  const std::string now = FormatDateTime(Env.Now());
  const std::string key = LowerAscii(Trim(Server) + "|" + Trim(Database));

  auto entry = baseline.find(key);
  if (entry == baseline.end() || !entry->is_object()) {
    TJson record = TJson::object();
    record["thumbprint"] = current;
    record["firstSeenAt"] = now;
    record["lastCheckedAt"] = now;
    baseline[key] = std::move(record);
    SaveBaseline(Env, path, baseline);
    return kTdeFirstSeen;
  }
  Previous = NormalizeTdeThumbprint(JsonMemberText(*entry, "thumbprint"));
  if (SameText(Previous, current)) {
    (*entry)["lastCheckedAt"] = now;
    SaveBaseline(Env, path, baseline);
    return kTdeUnchanged;
  }
  if (Previous == kTdeNoEncryption) return kTdeNewlyEncrypted;
  if (current == kTdeNoEncryption) {
    (*entry)["thumbprint"] = kTdeNoEncryption;
    (*entry)["lastCheckedAt"] = now;
    SaveBaseline(Env, path, baseline);
    return kTdeSwitchedOff;
  }
  return kTdeCertificateChanged;
}

}  // namespace calvora
