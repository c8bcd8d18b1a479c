#include "platform/machine_protect.h"

#include "platform/paths.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <memory>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace calvora::platform {
namespace {

constexpr unsigned char kBlobVersion = 0x01;
constexpr size_t kKeySize = 32;
constexpr size_t kNonceSize = 12;
constexpr size_t kTagSize = 16;

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}
unsigned char* Bytes(std::string& s) { return reinterpret_cast<unsigned char*>(s.data()); }

bool ReadExactly(int fd, std::string& out, size_t size) {
  out.assign(size, '\0');
  size_t got = 0;
  while (got < size) {
    ssize_t n = read(fd, out.data() + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool ReadKeyFile(const std::string& path, std::string& key, std::string& error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = LastSystemErrorText();
    return false;
  }
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && st.st_size == static_cast<off_t>(kKeySize) &&
            ReadExactly(fd, key, kKeySize);
  close(fd);
  if (!ok) error = "Makine anahtari gecersiz: " + path;
  return ok;
}

bool WriteKey(int fd, const std::string& key) {
  if (const group* gr = getgrnam("calvora")) (void)fchown(fd, static_cast<uid_t>(-1), gr->gr_gid);
  (void)fchmod(fd, 0640);
  return write(fd, key.data(), key.size()) == static_cast<ssize_t>(key.size()) && fsync(fd) == 0;
}

// A new key is readable by the owner and the "calvora" group only. It is
// written completely under a temporary name and then linked to its final
// name, which fails when the name exists: two processes making the key at
// once agree on one, and a crash never leaves a short key behind.
bool CreateKeyFile(const std::string& path, std::string& error) {
  std::error_code ec;
  auto parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  std::string key(kKeySize, '\0');
  if (RAND_bytes(Bytes(key), static_cast<int>(key.size())) != 1) {
    error = "Rastgele anahtar uretilemedi";
    return false;
  }
  // Unique per attempt: threads of one process may race here as well.
  unsigned char tag[8];
  if (RAND_bytes(tag, sizeof tag) != 1) {
    error = "Rastgele anahtar uretilemedi";
    return false;
  }
  std::string temp = path + ".new-" + std::to_string(getpid()) + "-";
  for (unsigned char c : tag) temp += "0123456789abcdef"[c & 15];
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
  if (fd < 0) {
    error = LastSystemErrorText();
    return false;
  }
  bool ok = WriteKey(fd, key);
  if (!ok) error = LastSystemErrorText();
  close(fd);
  if (ok && link(temp.c_str(), path.c_str()) != 0) {
    if (errno == EEXIST) {
      // another process made it first: theirs is the key
    } else if (errno == EPERM || errno == ENOTSUP || errno == EOPNOTSUPP) {
      // a file system without hard links: create the final name exclusively
      int direct = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
      if (direct >= 0) {
        ok = WriteKey(direct, key);
        if (!ok) error = LastSystemErrorText();
        close(direct);
        if (!ok) unlink(path.c_str());
      } else if (errno != EEXIST) {
        ok = false;
        error = LastSystemErrorText();
      }
    } else {
      ok = false;
      error = LastSystemErrorText();
    }
  }
  unlink(temp.c_str());
  return ok;
}

}  // namespace

bool LooksSealed(const std::string& blob) {
  return blob.size() >= 1 + kNonceSize + kTagSize && static_cast<unsigned char>(blob[0]) == kBlobVersion;
}

std::string MissingKeyText(const std::string& keyPath) { return "Makine anahtari bulunamadi: " + keyPath; }

MachineKeyProtector::MachineKeyProtector(std::string keyPath, KeyCreationCheck mayCreateKey)
    : keyPath_(std::move(keyPath)), mayCreateKey_(std::move(mayCreateKey)) {}

bool MachineKeyProtector::LoadKey(bool createWhenMissing, std::string& key,
                                  std::string& error) const {
  if (ReadKeyFile(keyPath_, key, error)) return true;
  if (access(keyPath_.c_str(), F_OK) == 0 || errno != ENOENT) return false;
  if (!createWhenMissing) {
    error = MissingKeyText(keyPath_);
    return false;
  }
  if (mayCreateKey_) {
    const std::string refusal = mayCreateKey_();
    if (!refusal.empty()) {
      error = MissingKeyText(keyPath_) + " (" + refusal + ")";
      return false;
    }
  }
  if (!CreateKeyFile(keyPath_, error)) return false;
  return ReadKeyFile(keyPath_, key, error);
}

bool MachineKeyProtector::Protect(const std::string& plain, const std::string& description,
                                  std::string& blob, std::string& error) const {
  std::string key;
  if (!LoadKey(true, key, error)) return false;
  std::string nonce(kNonceSize, '\0');
  if (RAND_bytes(Bytes(nonce), static_cast<int>(nonce.size())) != 1) {
    error = "Rastgele deger uretilemedi";
    return false;
  }
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  std::string cipher(plain.size(), '\0');
  std::string tag(kTagSize, '\0');
  int len = 0;
  bool ok = ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) == 1 &&
            EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, Bytes(key), Bytes(nonce)) == 1 &&
            EVP_EncryptUpdate(ctx.get(), nullptr, &len, Bytes(description),
                              static_cast<int>(description.size())) == 1 &&
            EVP_EncryptUpdate(ctx.get(), Bytes(cipher), &len, Bytes(plain),
                              static_cast<int>(plain.size())) == 1 &&
            EVP_EncryptFinal_ex(ctx.get(), Bytes(cipher) + len, &len) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagSize, Bytes(tag)) == 1;
  if (!ok) {
    error = "Sifreleme basarisiz";
    return false;
  }
  blob.clear();
  blob.reserve(1 + kNonceSize + cipher.size() + kTagSize);
  blob.push_back(static_cast<char>(kBlobVersion));
  blob += nonce;
  blob += cipher;
  blob += tag;
  return true;
}

bool MachineKeyProtector::Unprotect(const std::string& blob, const std::string& description,
                                    std::string& plain, std::string& error) const {
  plain.clear();
  if (blob.size() < 1 + kNonceSize + kTagSize ||
      static_cast<unsigned char>(blob[0]) != kBlobVersion) {
    error = "Veri gecersiz";
    return false;
  }
  std::string key;
  if (!LoadKey(false, key, error)) return false;
  const std::string nonce = blob.substr(1, kNonceSize);
  const std::string cipher = blob.substr(1 + kNonceSize, blob.size() - 1 - kNonceSize - kTagSize);
  std::string tag = blob.substr(blob.size() - kTagSize);
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  std::string out(cipher.size(), '\0');
  int len = 0;
  bool ok = ctx && EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) == 1 &&
            EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, Bytes(key), Bytes(nonce)) == 1 &&
            EVP_DecryptUpdate(ctx.get(), nullptr, &len, Bytes(description),
                              static_cast<int>(description.size())) == 1 &&
            EVP_DecryptUpdate(ctx.get(), Bytes(out), &len, Bytes(cipher),
                              static_cast<int>(cipher.size())) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, Bytes(tag)) == 1 &&
            EVP_DecryptFinal_ex(ctx.get(), Bytes(out) + len, &len) == 1;
  if (!ok) {
    error = "Veri gecersiz";
    return false;
  }
  plain = std::move(out);
  return true;
}

std::string MachineKeyProtector::KeyFault() const {
  if (access(keyPath_.c_str(), F_OK) != 0 && errno == ENOENT) return MissingKeyText(keyPath_);
  std::string key, error;
  return ReadKeyFile(keyPath_, key, error) ? std::string() : error;
}

std::string DefaultMachineKeyPath() {
  auto path = GetEnv("CALVORA_MACHINE_KEY_FILE");
  return path && !path->empty() ? *path : "/etc/calvora/machine.key";
}

MachineKeyProtector DefaultMachineProtector() { return MachineKeyProtector(DefaultMachineKeyPath()); }

}  // namespace calvora::platform
