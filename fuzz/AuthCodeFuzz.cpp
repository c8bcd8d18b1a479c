// The authorization code taken from pasted text: any text is read, and a
// code carried in a redirect address comes back exactly.
#include "FuzzSupport.h"

#include "google/uGoogleAuth.h"
#include "platform/http_client.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace calvora;
  const std::string text = fuzz::Bytes(data, size);
  ExtractAuthCode(text);
  // Codes as Google issues them are printable ASCII without blanks.
  std::string code;
  for (unsigned char c : text)
    if (c > ' ' && c < 127) code += static_cast<char>(c);
  if (code.empty()) return 0;
  const std::string address =
      "http://localhost:8080/callback?state=x&code=" + platform::UrlEncode(code) + "&scope=drive.file";
  fuzz::Check(ExtractAuthCode(address) == code, "the code of a redirect address changed");
  fuzz::Check(ExtractAuthCode("  " + platform::UrlEncode(code) + "\r\n") == code, "a bare code changed");
  return 0;
}
