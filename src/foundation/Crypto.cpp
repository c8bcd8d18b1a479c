#include "foundation/Crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

namespace calvora {

std::string Base64Encode(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

bool Base64Decode(std::string_view text, std::string& bytes) {
  bytes.clear();
  if (text.size() % 4 != 0) return false;
  size_t padding = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    if (c == '=') {
      if (i < text.size() - 2) return false;
      ++padding;
    } else if (!alpha || padding > 0) {
      return false;
    }
  }
  if (text.empty()) return true;
  std::string out(text.size() / 4 * 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (n < 0) return false;
  out.resize(static_cast<size_t>(n) - padding);
  bytes = std::move(out);
  return true;
}

std::string Base64UrlEncode(std::string_view bytes) {
  std::string out = Base64Encode(bytes);
  for (char& c : out) {
    if (c == '+') c = '-';
    else if (c == '/') c = '_';
  }
  while (!out.empty() && out.back() == '=') out.pop_back();
  return out;
}

std::string Sha256(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &len, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<char*>(digest), len);
}

std::string HexLower(std::string_view bytes) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out;
}

bool RandomBytes(size_t count, std::string& bytes) {
  bytes.assign(count, '\0');
  return RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(count)) == 1;
}

struct TMd5::State {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(ctx); }
};

TMd5::TMd5() : state_(std::make_unique<State>()) { EVP_DigestInit_ex(state_->ctx, EVP_md5(), nullptr); }
TMd5::~TMd5() = default;

void TMd5::Update(const void* data, size_t size) { EVP_DigestUpdate(state_->ctx, data, size); }

std::string TMd5::FinalHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_DigestFinal_ex(state_->ctx, digest, &len);
  return HexLower(std::string_view(reinterpret_cast<char*>(digest), len));
}

std::string Md5Hex(std::string_view bytes) {
  TMd5 md5;
  md5.Update(bytes.data(), bytes.size());
  return md5.FinalHex();
}

}  // namespace calvora
