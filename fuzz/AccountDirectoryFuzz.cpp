// The account directory's answer readers on any "Lisanslar" node: records
// at any depth, every member under its alternative names; keys made from
// what was read never carry a character the database forbids.
#include "FuzzSupport.h"

#include "account/uFirebaseAccountStore.h"
#include "foundation/JsonText.h"

#include <cctype>

namespace {

void CheckKey(const std::string& key) {
  using calvora::fuzz::Check;
  Check(!key.empty(), "empty account key");
  for (unsigned char c : key) Check(std::string("#$./[]\\").find(static_cast<char>(c)) == std::string::npos,
                                    "forbidden character in account key: " + key);
  Check(!std::isspace(static_cast<unsigned char>(key.front())) && !std::isspace(static_cast<unsigned char>(key.back())),
        "account key not trimmed: " + key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace calvora;
  const std::string text = fuzz::Bytes(data, size);
  TJson node;
  if (!TryParseJson(text, node)) {
    CheckKey(SanitizeAccountKey(text));
    return 0;
  }
  std::vector<TFirebaseManagedAccount> accounts;
  CollectManagedAccounts(node, "", "Lisanslar", accounts);
  SortManagedAccounts(accounts);
  for (const TFirebaseManagedAccount& account : accounts) {
    account.TotpEnabled();
    CheckKey(SanitizeAccountKey(account.LoginName));
    CheckKey(SanitizeAccountKey(account.NodeName));
  }
  if (node.is_object()) {
    IsAccountRecord(node);
    ParseManagedAccount("Lisanslar/x", "x", node);
    ReadAliasedField(node, {"KullaniciAdi", "Email", "login"});
  }
  return 0;
}
