#include "foundation/uSecureString.h"

#include "foundation/AppError.h"
#include "foundation/Crypto.h"
#include "foundation/TextFile.h"
#include "platform/machine_protect.h"

#include <filesystem>
#include <system_error>

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

}  // namespace

bool IsProtectedSecret(const std::string& Text) { return Text.rfind(kPrefix, 0) == 0; }

std::string ProtectSecret(const std::string& Plain) {
  if (Plain.empty()) return std::string();
  std::string blob, error;
  if (!platform::DefaultMachineProtector().Protect(Plain, kDescription, blob, error))
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
  if (!platform::DefaultMachineProtector().Unprotect(blob, kDescription, opened, error)) return false;
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
  if (!platform::DefaultMachineProtector().Protect(plain, description, blob, error)) return false;
  base64 = Base64Encode(blob);
  return true;
}

bool UnprotectMachineScope(const std::string& base64, const std::string& description,
                           std::string& plain) {
  plain.clear();
  std::string blob, error;
  if (!Base64Decode(WithoutWhitespace(base64), blob) || blob.empty()) return false;
  return platform::DefaultMachineProtector().Unprotect(blob, description, plain, error);
}

std::string MachineKeyFault() { return platform::DefaultMachineProtector().KeyFault(); }

bool ReadProtectedTextFile(const std::string& path, std::string& plain) {
  plain.clear();
  if (!FileExists(path)) return false;
  const std::string text = ReadTextFile(path);
  if (!text.empty() && !IsProtectedSecret(text)) WriteTextFile(path, ProtectSecret(text), true);
  if (TryUnprotectSecret(text, plain)) return true;
  const std::string keyFault = MachineKeyFault();
  if (!keyFault.empty()) throw EAppError("Gizli bilgi okunamadi: " + keyFault);
  std::error_code ec;
  std::filesystem::remove(path + ".corrupt", ec);
  std::filesystem::rename(path, path + ".corrupt", ec);
  return false;
}

void WriteProtectedTextFile(const std::string& path, const std::string& plain) {
  WriteTextFile(path, ProtectSecret(plain), true);
}

}  // namespace calvora
