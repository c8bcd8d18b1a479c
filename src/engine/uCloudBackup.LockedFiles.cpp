// Files that another program holds open are read through a readable copy
// made by the locked-file script.
#include "engine/uCloudBackup.h"

#include "engine/WorkFolderFiles.h"
#include "foundation/AppError.h"
#include "foundation/PrivateTemp.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "platform/http_client.h"

#include <filesystem>
#include <system_error>

namespace calvora {

bool TCloudBackupService::IsLockedFileError(const std::exception& Error) {
  // A local file that could not be opened or read (the Drive client and the
  // engine raise EFileError for it; a streamed body that cannot be read
  // comes back as a transport error naming the file).
  if (dynamic_cast<const EFileError*>(&Error) != nullptr) return true;
  const std::string message = FoldCase(Error.what());
  if (dynamic_cast<const platform::HttpTransportError*>(&Error) != nullptr &&
      StartsText(message, "dosya okunamadi"))
    return true;
  for (const char* words : {"being used by another process", "process cannot access", "sharing violation",
                            "locked a portion of the file", "stream read error",
                            "baska bir islem tarafindan kullaniliyor", "dosyanin bir bolumunu kilitlediginden",
                            "access is denied", "permission denied"})
    if (message.find(words) != std::string::npos) return true;
  return false;
}

bool TCloudBackupService::CreateReadableCopy(const std::string& Source, std::string& CopyPath, std::string& Error) {
  CopyPath.clear();
  Error.clear();
  if (!FileExists(Source)) {
    Error = "Kaynak dosya bulunamadi: " + Source;
    return false;
  }
  std::string copyPath;
  bool ok = false;
  // A copy is a side run: the result of the backup script stays the last one.
  TJson backupResult = FLastScriptData;
  TScopeExit keepResult([&] { FLastScriptData = std::move(backupResult); });
  try {
    copyPath = JoinPath(PrivateTempFolder(FEnv, {"CalvoraReadableCopies", RandomAlphaNumeric(11)}),
                        ExtractFileName(Source));
    TJson payload = TJson::object();
    payload["sourcePath"] = Source;
    payload["destinationPath"] = copyPath;
    std::string message;
    std::string produced;
    if (RunLockedFileScript(payload, message, produced)) {
      std::string copy = produced.empty() ? copyPath : produced;
      if (!FileExists(copy)) {
        Error = "Snapshot kopyasi olustu bildirildi ancak dosya bulunamadi: " + copy;
      } else {
        CopyPath = copy;
        ok = true;
      }
    } else {
      Error = message.empty() ? "Snapshot kopyasi olusturulamadi." : message;
    }
  } catch (const std::exception& e) {
    Error = e.what();
  }
  if (!ok) DeleteReadableCopy(copyPath);
  return ok;
}

void TCloudBackupService::DeleteReadableCopy(const std::string& CopyPath) {
  if (CopyPath.empty()) return;
  try {
    if (FileExists(CopyPath)) DeleteFileOrThrow(CopyPath);
  } catch (const std::exception& e) {
    LogException("Gecici okunabilir kopya silinemedi", e);
  }
  try {
    const std::string folder = ExtractFileDir(CopyPath);
    std::error_code ec;
    if (DirectoryExists(folder) && std::filesystem::is_empty(folder, ec) && !ec) {
      std::filesystem::remove(folder, ec);
      if (ec) throw EFileError("Klasor silinemedi: " + folder + " (" + ec.message() + ")");
    }
  } catch (const std::exception& e) {
    LogException("Gecici okunabilir klasor silinemedi", e);
  }
}

}  // namespace calvora
