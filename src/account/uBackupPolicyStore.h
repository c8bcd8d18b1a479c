#pragma once
// Backup policies: a named pair of file-name mask lists below
// "YedeklemePolitikalari" that decides which files of a folder plan are
// backed up. Exclusion wins over inclusion; masks apply to file names only.
#include "foundation/Env.h"

#include <string>
#include <vector>

namespace calvora {

struct TBackupPolicy {
  std::string PolicyId;  // the sanitised key
  std::string Name;      // "Ad"; the key when missing
  std::string Description;
  std::vector<std::string> IncludePatterns;  // empty: all files
  std::vector<std::string> ExcludePatterns;
};

// The policy stored at "YedeklemePolitikalari/" + the sanitised id; one
// policy is cached for 120 s. False with a message, never throws.
bool ReadBackupPolicy(TEnv& env, const std::string& policyId, TBackupPolicy& policy, std::string& error);
// The signed-in account's policy. True with hasPolicy false when the account
// names none; on failure hasPolicy tells whether the account names one (a
// folder plan must then fail rather than run unfiltered).
bool GetActiveBackupPolicy(TEnv& env, TBackupPolicy& policy, bool& hasPolicy, std::string& error);
// The file name part of `filePath` is checked: any exclude mask matching
// drops it; otherwise no include masks or one matching keeps it.
bool IsFileAllowedByPolicy(const TBackupPolicy& policy, const std::string& filePath);
// "*", "?", "[set]", "[!set]", letters ignoring case; a malformed mask
// matches nothing.
bool MatchesPolicyMask(const std::string& fileName, const std::string& mask);

// Policy key of an id: the account-key rule, but empty stays empty.
std::string SanitizePolicyKey(const std::string& policyId);

}  // namespace calvora
