#pragma once
// The account root folder: each customer's backups live below a Drive
// folder named after the signed-in account, created below the configured
// Drive root.
#include "foundation/Env.h"

#include <memory>
#include <string>

namespace calvora {

class TGoogleAuth;
class TGoogleDrive;

// The Google client every Drive request of the signed-in account goes
// through: the account's own OAuth client when its record has one (the
// configured client otherwise, also when the account cannot be read), with
// the local token cache loaded. Not interactive. Never throws for the
// account lookup; token cache errors are the cache's.
std::unique_ptr<TGoogleAuth> CreateAccountGoogleAuth(TEnv& env);

// Trimmed; "/:*?<>|", the backslash and the double quote become "-";
// "Hesap" when nothing is left.
std::string SanitizeAccountFolderName(const std::string& Text);
// The signed-in account's folder name (display name, else login name, else
// "Hesap"); false with the account lookup's error.
bool GetAccountRootFolderName(TEnv& env, std::string& Name, std::string& Error);
// Finds or creates the account root folder below RootFolderID (the Drive
// root when blank). Never throws. A lookup that fails never creates the
// folder. *DriveFailed, when given, tells a failure of Drive (worth another
// attempt) from one of the account lookup.
bool EnsureAccountRootFolder(TEnv& env, TGoogleDrive& Drive, const std::string& RootFolderID,
                             std::string& FolderID, std::string& Error, bool* DriveFailed = nullptr);

}  // namespace calvora
