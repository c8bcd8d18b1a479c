#pragma once
// Folders and files that carry secrets (script settings with database
// passwords, the mail script and its settings): made by this account alone,
// with no access for anyone else, and never reached through a symbolic
// link. Whatever already stands at such a name is used only when it passes
// the same checks; nothing found there is read, followed or replaced.
#include <string>
#include <string_view>

namespace calvora::platform {

// Why `path` cannot be a private folder of this account: a symbolic link,
// not a folder, another owner, or write access for group or others. Empty
// when it can (a folder of ours that others could only read, as an earlier
// version left them, is tightened by EnsurePrivateFolder).
std::string PrivateFolderFault(const std::string& path);

// Creates `path` (whose parent must exist) with mode 0700, or takes the
// folder already there when PrivateFolderFault finds nothing and its mode
// can be brought to 0700. False with the reason otherwise.
bool EnsurePrivateFolder(const std::string& path, std::string& error);

// A new folder named `prefix` + six random characters (mode 0700), checked
// like EnsurePrivateFolder; empty with the reason when none can be made.
std::string MakeUniquePrivateFolder(const std::string& prefix, std::string& error);

// Creates `path` exclusively (it must not exist, not even as a link), mode
// 0600, and writes `data`. Throws std::system_error on failure.
void CreatePrivateFile(const std::string& path, std::string_view data);

// Why the file at `path` is not one this account alone could have written:
// a symbolic link, not a regular file, another owner, or write access for
// group or others. Empty when it is.
std::string PrivateFileFault(const std::string& path);

}  // namespace calvora::platform
