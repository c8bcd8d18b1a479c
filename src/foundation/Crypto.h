#pragma once
// Encodings and digests (OpenSSL underneath).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace calvora {

// RFC 4648 standard alphabet with "=" padding, on one line.
std::string Base64Encode(std::string_view bytes);
// Strict: false for characters outside the alphabet or wrong padding.
bool Base64Decode(std::string_view text, std::string& bytes);
// RFC 4648 section 5 alphabet, without padding.
std::string Base64UrlEncode(std::string_view bytes);

std::string Sha256(std::string_view bytes);  // raw 32 bytes
std::string HexLower(std::string_view bytes);
bool RandomBytes(size_t count, std::string& bytes);

// Incremental MD5 for streamed files.
class TMd5 {
 public:
  TMd5();
  ~TMd5();
  TMd5(const TMd5&) = delete;
  TMd5& operator=(const TMd5&) = delete;
  void Update(const void* data, size_t size);
  // 32 lower-case hexadecimal digits.
  std::string FinalHex();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

std::string Md5Hex(std::string_view bytes);

}  // namespace calvora
