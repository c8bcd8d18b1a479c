#pragma once
// Machine-bound symmetric protection: what one local account of the machine
// protects, every other local account of the machine opens, and a copy taken
// elsewhere does not. A 32-byte machine key seals AES-256-GCM blobs:
//   0x01 | 12-byte nonce | ciphertext | 16-byte tag
// with the description as additional authenticated data, so a blob made for
// one purpose does not open under another.
#include <functional>
#include <string>

namespace calvora::platform {

// Asked before a missing key is made: a non-empty answer is why no key may
// be made now (data sealed with the lost key would never open again).
using KeyCreationCheck = std::function<std::string()>;

class MachineKeyProtector {
 public:
  explicit MachineKeyProtector(std::string keyPath, KeyCreationCheck mayCreateKey = nullptr);

  const std::string& KeyPath() const { return keyPath_; }

  // False with the reason in `error` when the key cannot be read, is missing
  // and may not or cannot be made, or the cipher fails.
  bool Protect(const std::string& plain, const std::string& description,
               std::string& blob, std::string& error) const;
  // False for a damaged blob, a blob sealed with another key or another
  // description, or a missing key (which is never made here).
  bool Unprotect(const std::string& blob, const std::string& description,
                 std::string& plain, std::string& error) const;
  // Why the key cannot be used: missing ("Makine anahtari bulunamadi: " +
  // path), unreadable, wrong size. Empty when it is usable.
  std::string KeyFault() const;

 private:
  bool LoadKey(bool createWhenMissing, std::string& key, std::string& error) const;
  std::string keyPath_;
  KeyCreationCheck mayCreateKey_;
};

// True when `blob` has the layout of a sealed blob (version, nonce, tag):
// data that some machine key sealed, as opposed to damaged bytes.
bool LooksSealed(const std::string& blob);

// The reason a missing key gives: "Makine anahtari bulunamadi: " + path.
std::string MissingKeyText(const std::string& keyPath);

// $CALVORA_MACHINE_KEY_FILE when set, else /etc/calvora/machine.key.
std::string DefaultMachineKeyPath();
// The protector on the default key path (re-read from the environment at
// every call, so a test that points the variable elsewhere takes effect).
MachineKeyProtector DefaultMachineProtector();

}  // namespace calvora::platform
