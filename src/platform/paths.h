#pragma once
// Where the operating system keeps things: executable folder, shared and
// per-user data roots, the private temporary folder, environment lookups.
#include <optional>
#include <string>

namespace calvora::platform {

std::optional<std::string> GetEnv(const std::string& name);
// The value of `name`, or `fallback` when unset (an empty value counts as set).
std::string EnvOr(const std::string& name, const std::string& fallback);

// Folder of the running executable, without trailing separator.
std::string ExecutableDir();
// Full path of the running executable.
std::string ExecutablePath();

// $PROGRAMDATA when set, else /var/lib.
std::string ProgramDataDir();
// $APPDATA when set, else $XDG_CONFIG_HOME, else ~/.config.
std::string AppDataDir();

// Per-user private temporary folder: ($TMPDIR or /tmp)/calvora-<uid>,
// made (or taken) as a private folder (platform/private_folder.h); when that
// name is held by anything else, a fresh ($TMPDIR or /tmp)/calvora-<uid>-XXXXXX.
// Empty when no private folder can be made. Files carrying secrets go here.
std::string UserTempDir();

// The machine's name ($COMPUTERNAME when set, else the host name).
std::string ComputerName();

// The system's text for an error number (strerror).
std::string SystemErrorText(int errorNumber);
// The system's text for the calling thread's last error (errno).
std::string LastSystemErrorText();

char PathSeparator();

}  // namespace calvora::platform
