#include "foundation/uSecureString.h"

#include "foundation/AppError.h"
#include "foundation/Crypto.h"
#include "foundation/TextFile.h"
#include "foundation/uDeploymentSettings.h"
#include "foundation/uLogger.h"

#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

namespace calvora {
namespace {

constexpr const char* kPrefix = "dpapi:";
constexpr const char* kDescription = "BrimoraPlanSecret";

std::string WithoutWhitespace(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '\r' && c != '\n' && c != ' ' && c != '\t') out += c;
  return out;
}

// Files of the data directory that hold "dpapi:" envelopes once written by
// this version (older versions wrote some of them as plain text)...
constexpr const char* kEnvelopeFiles[] = {"config.ini", "backupplans.json", "planactivity.json", "syc.dat",
                                          "google_tokens.dat"};
// ... and those sealed with the key without the prefix.
constexpr const char* kSealedFiles[] = {"service_token.dat", "signin.dat"};

struct TProtectedDirs {
  std::mutex lock;
  std::vector<std::string> dirs;
};

TProtectedDirs& ProtectedDirs() {
  static TProtectedDirs registry;
  return registry;
}

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
         c == '=';
}

// An envelope somewhere in `text` whose payload is a sealed blob; damaged
// or foreign-looking text after the prefix does not count.
bool HoldsSealedEnvelope(const std::string& text) {
  std::string whole;
  if (IsProtectedSecret(text) && Base64Decode(WithoutWhitespace(text.substr(6)), whole) && platform::LooksSealed(whole))
    return true;
  for (size_t at = text.find(kPrefix); at != std::string::npos; at = text.find(kPrefix, at + 1)) {
    size_t end = at + 6;
    while (end < text.size() && IsBase64Char(text[end])) ++end;
    std::string blob;
    if (Base64Decode(text.substr(at + 6, end - at - 6), blob) && platform::LooksSealed(blob)) return true;
  }
  return false;
}

bool HoldsEnvelope(const std::string& path) {
  if (!FileExists(path)) return false;
  try {
    return HoldsSealedEnvelope(ReadBinaryFile(path));
  } catch (const EAppError&) {
    return true;  // unreadable now: it may well hold one
  }
}

std::string ProtectedFileIn(const std::string& dir) {
  for (const char* name : kSealedFiles)
    if (const std::string path = JoinPath(dir, name); FileSizeOf(path) > 0) return path;
  for (const char* name : kEnvelopeFiles)
    if (const std::string path = JoinPath(dir, name); HoldsEnvelope(path)) return path;
  return std::string();
}

std::string RefuseNewKeyWhileProtectedFilesExist() {
  std::string found = FindProtectedDataFile();
  if (found.empty()) return std::string();
  LogErrorFmt("Makine anahtari bulunamadi: %s; %s bu anahtarla korunuyor, yeni anahtar uretilmedi ve dosyalar "
              "oldugu gibi birakildi",
              platform::DefaultMachineKeyPath(), found);
  return "korunan dosya var: " + found;
}


}  // namespace

bool IsProtectedSecret(const std::string& Text) { return Text.rfind(kPrefix, 0) == 0; }

std::string ProtectSecret(const std::string& Plain) {
  if (Plain.empty()) return std::string();
  std::string blob, error;
  if (!MachineProtector().Protect(Plain, kDescription, blob, error))
    throw EAppError("Gizli bilgi sifrelenemedi: " + error);
  return kPrefix + Base64Encode(blob);
}

bool TryUnprotectSecret(const std::string& Text, std::string& Plain) {
  Plain.clear();
  if (Text.empty()) return true;
  if (!IsProtectedSecret(Text)) {
    Plain = Text;
    return true;
  }
  std::string blob;
  if (!Base64Decode(WithoutWhitespace(Text.substr(6)), blob) || blob.empty()) return false;
  std::string opened, error;
  if (!MachineProtector().Unprotect(blob, kDescription, opened, error)) return false;
  Plain = std::move(opened);
  return true;
}

std::string UnprotectSecret(const std::string& Text) {
  std::string plain;
  if (!TryUnprotectSecret(Text, plain)) throw EAppError("Gizli bilgi okunamadi: Veri gecersiz");
  return plain;
}

bool ProtectMachineScope(const std::string& plain, const std::string& description,
                         std::string& base64, std::string& error) {
  std::string blob;
  if (!MachineProtector().Protect(plain, description, blob, error)) return false;
  base64 = Base64Encode(blob);
  return true;
}

bool UnprotectMachineScope(const std::string& base64, const std::string& description,
                           std::string& plain) {
  plain.clear();
  std::string blob, error;
  if (!Base64Decode(WithoutWhitespace(base64), blob) || blob.empty()) return false;
  return MachineProtector().Unprotect(blob, description, plain, error);
}

std::string MachineKeyFault() { return MachineProtector().KeyFault(); }

void RegisterProtectedDataDir(const std::string& dir) {
  auto& registry = ProtectedDirs();
  std::lock_guard<std::mutex> guard(registry.lock);
  for (const std::string& known : registry.dirs)
    if (known == dir) return;
  registry.dirs.push_back(dir);
}

std::string FindProtectedDataFile() {
  std::vector<std::string> dirs;
  {
    auto& registry = ProtectedDirs();
    std::lock_guard<std::mutex> guard(registry.lock);
    dirs = registry.dirs;
  }
  for (const std::string& dir : dirs)
    if (std::string found = ProtectedFileIn(dir); !found.empty()) return found;
  const std::string deployment = DefaultDeploymentFilePath();
  return HoldsEnvelope(deployment) ? deployment : std::string();
}

platform::MachineKeyProtector MachineProtector() {
  return platform::MachineKeyProtector(platform::DefaultMachineKeyPath(), RefuseNewKeyWhileProtectedFilesExist);
}

bool ReadProtectedTextFile(const std::string& path, std::string& plain) {
  plain.clear();
  RegisterProtectedDataDir(ExtractFileDir(path));
  if (!FileExists(path)) return false;
  const std::string text = ReadTextFile(path);
  if (!text.empty() && !IsProtectedSecret(text)) WriteTextFile(path, ProtectSecret(text), true);
  if (TryUnprotectSecret(text, plain)) return true;
  // A key at fault says nothing about the file, unless the file is damaged
  // whatever the key.
  const std::string keyFault = MachineKeyFault();
  if (!keyFault.empty() && HoldsSealedEnvelope(text)) {
    LogErrorFmt("Korunan dosya okunamadi, oldugu gibi birakildi: %s (%s)", path, keyFault);
    throw EAppError("Gizli bilgi okunamadi: " + keyFault);
  }
  std::error_code ec;
  std::filesystem::remove(path + ".corrupt", ec);
  std::filesystem::rename(path, path + ".corrupt", ec);
  return false;
}

void WriteProtectedTextFile(const std::string& path, const std::string& plain) {
  RegisterProtectedDataDir(ExtractFileDir(path));
  WriteTextFile(path, ProtectSecret(plain), true);
}

}  // namespace calvora
