// The backup policy's file-name masks on any name and mask: matching ends
// quickly, ignores letter case, and a policy never keeps an excluded file.
#include "FuzzSupport.h"

#include "account/uBackupPolicyStore.h"

#include <cctype>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace calvora;
  if (size > 4096) return 0;
  const auto parts = fuzz::Parts(fuzz::Bytes(data, size), 3);
  const std::string &name = parts[0], &mask = parts[1];
  const bool matches = MatchesPolicyMask(name, mask);
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  fuzz::Check(MatchesPolicyMask(upper, mask) == matches, "letter case changed the match");
  fuzz::Check(MatchesPolicyMask(name, "*"), "\"*\" does not match everything");
  if (name.find_first_of("*?[") == std::string::npos && name.find('/') == std::string::npos)
    fuzz::Check(MatchesPolicyMask(name, name), "a plain name does not match itself");

  TBackupPolicy policy;
  policy.IncludePatterns = {mask};
  policy.ExcludePatterns = {parts[2]};
  const std::string path = "/kaynak/alt/" + name;
  if (name.find('/') == std::string::npos && MatchesPolicyMask(name, parts[2]))
    fuzz::Check(!IsFileAllowedByPolicy(policy, path), "an excluded file was kept");
  return 0;
}
