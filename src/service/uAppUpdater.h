#pragma once
// Self-update of both programs from the account directory's "AppUpdate"
// descriptor: version comparison, download of a new executable, its
// replacement by renaming the running one aside, the daily gate in
// "update_state.ini", and the service's daily check with its restart.
//
// Each executable carries a version marker compiled into it; the version of
// a file is read from its bytes, the file is never run to learn it.
#include "foundation/Env.h"
#include "foundation/JsonText.h"

#include <functional>
#include <string>

namespace calvora {

struct TUpdateInfo {
  std::string Version;
  std::string ControlUrl;
  std::string ServiceUrl;
  bool Enabled = true;
  std::string Notes;
};

inline constexpr const char kControlExeName[] = "Calvora";
inline constexpr const char kUpdateKeyControl[] = "Control";
inline constexpr const char kUpdateKeyService[] = "Service";

// The bytes of the version marker that an executable of `Version`
// ("major.minor.release.build") carries; tests and tools build files with it.
std::string BuildVersionMarker(const std::string& Version);

// The descriptor's members as read from a JSON object (no request).
TUpdateInfo UpdateInfoFromJson(const TJson& Node);
bool ReadUpdateInfo(TEnv& Env, TUpdateInfo& Info, std::string& Error);

// "%d.%d.%d.%d" from the file's version marker; empty when it has none or
// cannot be read.
std::string GetFileVersionText(const std::string& FilePath);
// The running executable's version; "0.0.0.0" when it has none.
std::string GetCurrentVersionText();
// Negative, 0 or positive; parts that are missing or not numbers count 0.
int CompareVersionText(const std::string& A, const std::string& B);
bool IsUpdateNewer(const std::string& ExePath, const TUpdateInfo& Info);

// True when a plausible executable (at least 64 KiB, ELF) now lies at
// TargetFile; any failure leaves no file there.
bool DownloadUpdateFile(const std::string& Address, const std::string& TargetFile, std::string& Error);
bool ReplaceExecutable(TEnv& Env, const std::string& ExePath, const std::string& NewFile, std::string& Error);
bool DownloadAndReplace(TEnv& Env, const std::string& ExePath, const std::string& Address, std::string& Error);
// Deletes every "*.old" file of the folder; errors are ignored.
void CleanupOldExecutables(const std::string& Folder);

// "update_state.ini" in the data folder.
std::string UpdateStateFilePath(const TEnv& Env);
// "updates" in the data folder.
std::string UpdateDownloadFolder(const TEnv& Env);
bool ShouldCheckUpdatesToday(TEnv& Env, const std::string& Key);
void RecordUpdateCheckDate(TEnv& Env, const std::string& Key);

// The service's daily check. In a program folder that the package manager
// owns (kPackageManagedMarker) a newer version is only logged.
// `OnBeforeRestart` is called after the
// service's own executable was replaced, right before the restart command
// (the host sends its "Guncelleniyor" report there).
void RunServiceUpdateCheck(TEnv& Env, const std::function<void()>& OnBeforeRestart);
// The shell command that stops the service, waits and starts it again.
std::string ServiceRestartCommand();
// Starts that command detached in its own session; does not wait.
bool RestartServiceForUpdate(TEnv& Env, std::string& Error);

}  // namespace calvora
