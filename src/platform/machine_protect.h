#pragma once
// Machine-bound symmetric protection: what one local account of the machine
// protects, every other local account of the machine opens, and a copy taken
// elsewhere does not. A 32-byte machine key seals AES-256-GCM blobs:
//   0x01 | 12-byte nonce | ciphertext | 16-byte tag
// with the description as additional authenticated data, so a blob made for
// one purpose does not open under another.
#include <string>

namespace calvora::platform {

class MachineKeyProtector {
 public:
  explicit MachineKeyProtector(std::string keyPath);

  const std::string& KeyPath() const { return keyPath_; }

  // False with the system's reason in `error` when the key cannot be made or
  // read or the cipher fails.
  bool Protect(const std::string& plain, const std::string& description,
               std::string& blob, std::string& error) const;
  // False for a damaged blob, a blob sealed with another key or another
  // description, or a missing key.
  bool Unprotect(const std::string& blob, const std::string& description,
                 std::string& plain, std::string& error) const;
  // Why the key file exists but cannot be used (unreadable, wrong size);
  // empty when it is usable or does not exist.
  std::string KeyFault() const;

 private:
  bool LoadKey(bool createWhenMissing, std::string& key, std::string& error) const;
  std::string keyPath_;
};

// $CALVORA_MACHINE_KEY_FILE when set, else /etc/calvora/machine.key.
std::string DefaultMachineKeyPath();
// The protector on the default key path (re-read from the environment at
// every call, so a test that points the variable elsewhere takes effect).
MachineKeyProtector DefaultMachineProtector();

}  // namespace calvora::platform
