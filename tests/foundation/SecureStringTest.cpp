#include "foundation/AppError.h"
#include "foundation/Crypto.h"
#include "foundation/uSecureString.h"
#include "platform/machine_protect.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace calvora {
namespace {

TEST(SecretEnvelope, ProtectsAndOpensOnThisMachine) {
  EXPECT_EQ(ProtectSecret(""), "");
  const std::string turkish = "Çağrı Öğüş ıİ 🙂";
  const std::string a = ProtectSecret(turkish), b = ProtectSecret(turkish);
  EXPECT_NE(a, b);  // fresh at every protection
  for (const auto& envelope : {a, b}) {
    EXPECT_TRUE(IsProtectedSecret(envelope));
    EXPECT_EQ(envelope.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(UnprotectSecret(envelope), turkish);
  }
  // Wrapped over lines and indented, it still opens.
  std::string wrapped = a.substr(0, 6) + "\r\n\t" + a.substr(6, 10) + "\n  " + a.substr(16);
  EXPECT_EQ(UnprotectSecret(wrapped), turkish);
}

TEST(SecretEnvelope, PlainTextPassesAndBrokenEnvelopesFail) {
  struct Case {
    std::string text;
    bool ok;
    std::string plain;
  } cases[] = {
      {"", true, ""},
      {"legacy password", true, "legacy password"},
      {"DPAPI:abc", true, "DPAPI:abc"},  // the prefix is case-sensitive
      {" dpapi:abc", true, " dpapi:abc"},
      {"dpapi:", false, ""},
      {"dpapi:!!!!", false, ""},
      {"dpapi:" + Base64Encode("not a sealed blob at all, just text"), false, ""},
  };
  for (const auto& c : cases) {
    std::string plain = "stale";
    EXPECT_EQ(TryUnprotectSecret(c.text, plain), c.ok) << c.text;
    EXPECT_EQ(plain, c.plain) << c.text;
  }
  try {
    UnprotectSecret("dpapi:AAAA");
    FAIL();
  } catch (const EAppError& e) {
    EXPECT_STREQ(e.what(), "Gizli bilgi okunamadi: Veri gecersiz");
  }
  // A damaged envelope of ours.
  std::string envelope = ProtectSecret("x");
  envelope[envelope.size() - 6] = envelope[envelope.size() - 6] == 'A' ? 'B' : 'A';
  std::string plain;
  EXPECT_FALSE(TryUnprotectSecret(envelope, plain));
}

TEST(SecretEnvelope, RefusalToProtectNamesTheReason) {
  test::TTempDir dir;
  test::WriteFile(dir.File("file"), "x");
  const std::string saved = std::getenv("CALVORA_MACHINE_KEY_FILE");
  setenv("CALVORA_MACHINE_KEY_FILE", (dir.File("file") + "/machine.key").c_str(), 1);  // cannot exist
  try {
    ProtectSecret("x");
    ADD_FAILURE() << "protection without a key";
  } catch (const EAppError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Gizli bilgi sifrelenemedi: ", 0), 0u) << e.what();
    EXPECT_GT(std::string(e.what()).size(), 27u);
  }
  setenv("CALVORA_MACHINE_KEY_FILE", saved.c_str(), 1);
}

TEST(SecretEnvelope, MachineScopeWithoutPrefixIsBoundToItsDescription) {
  std::string base64, error, plain;
  ASSERT_TRUE(ProtectMachineScope("token", "ServiceToken", base64, error)) << error;
  EXPECT_FALSE(IsProtectedSecret(base64));
  EXPECT_TRUE(UnprotectMachineScope(base64, "ServiceToken", plain));
  EXPECT_EQ(plain, "token");
  EXPECT_FALSE(UnprotectMachineScope(base64, "BrimoraPlanSecret", plain));
  EXPECT_EQ(plain, "");
}

}  // namespace
}  // namespace calvora
