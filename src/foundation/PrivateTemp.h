#pragma once
// The private temporary folder of an environment and the folders made below
// it for script settings, the mail script and readable copies. Every level,
// the temporary folder itself included, must be a private folder of this
// account (platform/private_folder.h): a folder planted at one of the names
// stops the work instead of receiving secrets.
#include "foundation/Env.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace calvora {

// The temporary folder joined with `names`, each level made or checked in
// turn. Throws EFileError "Gecici klasor guvenli degil: <folder> (<reason>)".
std::string PrivateTempFolder(const TEnv& env, std::initializer_list<std::string_view> names = {});

// A new owner-only file (the name must be free, a link there counts as
// taken). Throws EFileError.
void CreatePrivateTextFile(const std::string& path, std::string_view text);

// Throws EFileError unless the file at `path` is one this account alone
// could have written (a script's answer in a private folder).
void CheckPrivateFile(const std::string& path);

}  // namespace calvora
