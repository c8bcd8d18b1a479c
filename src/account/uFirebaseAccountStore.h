#pragma once
// The account directory: customer accounts are records below "Lisanslar",
// written by different tools over time, so every field is read under several
// alternative member names (the first present wins, even when empty) and
// written with the Turkish names only.
#include "foundation/Env.h"
#include "foundation/JsonText.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace calvora {

struct TFirebaseManagedAccount {
  std::string NodePath;  // relative to "Lisanslar" in lists, "Lisanslar/<key>" from a direct read
  std::string NodeName;
  std::string LoginName;
  std::string Email;
  std::string Password;
  std::string DisplayName;
  std::string CreatedAtText;
  std::string UpdatedAtText;
  std::int64_t StorageQuotaMB = 0;  // 0: no account quota
  std::string ServiceStatusText;
  std::string ServiceActiveHoursText;
  std::string ServiceLastHeartbeatText;
  std::string LastPlanExecutionText;
  std::string OAuthClientID;
  std::string OAuthClientSecret;
  std::string BackupPolicyId;
  std::string BayiLoginName;
  std::string TotpSecret;
  bool TotpEnabledFlag = false;

  bool TotpEnabled() const;
};

// Every operation below returns false with a user-facing message instead of
// throwing. A refusal of the database (an error status or error object) is a
// failure with the server's message, never a record and never "not found".

// How a lookup ended: only NotFound says that the directory has no such
// account; Failed means it could not be asked.
enum class TAccountLookup { Found, NotFound, Failed };

// True when "Lisanslar/" + SanitizeAccountKey(login) holds a record; a
// missing record gives false with an empty message.
bool ReadAccountDirect(TEnv& env, const std::string& login, TFirebaseManagedAccount& account,
                       std::string& error);
// All accounts below "Lisanslar" (nested ones included), sorted by login name
// then node path; served from a 120 s cache after a successful read.
bool ListManagedAccounts(TEnv& env, std::vector<TFirebaseManagedAccount>& list, std::string& error);
// The account whose login name, e-mail or node name equals `login` (ignoring
// case); tries the direct key first.
bool FindManagedAccount(TEnv& env, const std::string& login, TFirebaseManagedAccount& account,
                        std::string& error);
TAccountLookup LookupManagedAccount(TEnv& env, const std::string& login, TFirebaseManagedAccount& account,
                                    std::string& error);
// Merges the members of `fields` into the account's record (PATCH) and
// empties the list cache.
bool WriteAccountFields(TEnv& env, const std::string& login, const TJson& fields, std::string& error);
// Database key of a login name: trimmed, "#$./[]\" and white space replaced
// by "_", trimmed again; "hesap" when nothing is left.
std::string SanitizeAccountKey(const std::string& text);

// The building blocks, for the other stores of the directory.

// Key characters that the database forbids, and white space (including the
// Unicode separators), replaced by "_"; no trimming.
std::string ReplaceDatabaseKeyCharacters(const std::string& text);
// The text of the first present member among `candidates` (keys compared
// without double quotes, trimmed, ignoring case); one pair of surrounding
// double quotes removed, trimmed. Empty when none is present.
std::string ReadAliasedField(const TJson& record, std::initializer_list<const char*> candidates);
bool IsAccountRecord(const TJson& value);
TFirebaseManagedAccount ParseManagedAccount(const std::string& nodePath, const std::string& nodeName,
                                            const TJson& record);
// Walks a parsed "Lisanslar" node: records found at any depth, node paths
// relative to it. Not sorted.
void CollectManagedAccounts(const TJson& value, const std::string& path, const std::string& name,
                            std::vector<TFirebaseManagedAccount>& list);
void SortManagedAccounts(std::vector<TFirebaseManagedAccount>& list);

}  // namespace calvora
