// Firebird databases: one file, or every database file of a folder, each
// backed up by the Firebird script (gbak) into a ".fbk" and uploaded.
#include "engine/uCloudBackup.h"

#include "foundation/AppError.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

namespace calvora {

bool TCloudBackupService::BackupFirebirdPlan(const TBackupPlan& Plan, std::string& BackupFilePath,
                                             std::string& ResultMessage) {
  BackupFilePath.clear();
  ResultMessage.clear();
  const std::vector<std::string> files = FirebirdDatabaseFiles(Plan);
  if (files.empty()) {
    ResultMessage = IsFirebirdFolderPlan(Plan)
                        ? "Belirtilen klasorde Firebird veritabani (.fdb/.gdb/.ib) bulunamadi: " + Trim(Plan.DatabaseName)
                        : "Firebird veritabani yolu bos veya bulunamadi.";
    ReportProgress(Plan, "Hata", ResultMessage, false, "");
    return false;
  }
  if (files.size() == 1) {
    TBackupPlan copy = Plan;
    copy.DatabaseName = files.front();
    return BackupFirebirdDatabase(copy, BackupFilePath, ResultMessage);
  }

  ReportProgress(Plan, "Firebird Backup",
                 Fmt("%d veritabani yedeklenecek (kaynak: %s).", files.size(), Trim(Plan.DatabaseName)), false, "");
  // An error raised for one database ends the whole run (the driver's
  // handler reports it); a failed backup or upload does not.
  return BackupEachDatabase(
      Plan, files, "Firebird Backup", [](const std::string& file) { return ExtractFileName(file); },
      [this](TBackupPlan& one, std::string& path, std::string& message) {
        return BackupFirebirdDatabase(one, path, message);
      },
      BackupFilePath, ResultMessage);
}

bool TCloudBackupService::BackupFirebirdDatabase(const TBackupPlan& Plan, std::string& BackupFilePath,
                                                 std::string& ResultMessage) {
  BackupFilePath.clear();
  ResultMessage.clear();
  ReportProgress(Plan, "Temizlik", "Eski yerel ve Drive yedekleri kontrol ediliyor: " + Plan.DatabaseName, false, "");
  ApplyLocalRetention(Plan);
  ApplyDriveRetention(Plan);
  CleanupOldFailedFiles(Plan, "");

  ReportProgress(Plan, "Firebird Backup", "Veritabani yedegi aliniyor: " + Plan.DatabaseName, false, "");
  TJson payload = TJson::object();
  payload["databasePath"] = Plan.DatabaseName;
  payload["backupDirectory"] = PlanWorkDirectory(Plan);
  payload["backupFileName"] = SafeFilePrefix(Plan) + ".fbk";
  std::string message;
  std::string produced;
  if (!RunFirebirdScript("backup", payload, message, produced)) {
    ResultMessage = message;
    ReportProgress(Plan, "Hata", ResultMessage, false, "");
    return false;
  }
  if (produced.empty() || !FileExists(produced))
    throw EAppError("Firebird backup tamamlandi ancak .fbk dosyasina erisemedi: " + produced);
  BackupFilePath = produced;
  return UploadBackup(Plan, BackupFilePath, ResultMessage);
}

bool TCloudBackupService::TestFirebirdConnection(std::string& ErrorMessage) {
  ErrorMessage.clear();
  try {
    if (!FFirebirdConfig.Enabled) throw EAppError("Firebird backup ayarlari etkin degil.");
    std::string path;
    const bool ok = RunFirebirdScript("test", TJson::object(), ErrorMessage, path);
    if (ok)
      LogInfo("Firebird backup baglanti testi basarili");
    else
      LogWarnFmt("Firebird backup baglanti testi basarisiz: %s", ErrorMessage);
    return ok;
  } catch (const std::exception& e) {
    ErrorMessage = e.what();
    LogException("Firebird backup baglanti testi hatasi", e);
    return false;
  }
}

bool TCloudBackupService::TestFirebirdConnection(const TFirebirdBackupConfig& Settings, std::string& ErrorMessage) {
  FFirebirdConfig = Settings;
  return TestFirebirdConnection(ErrorMessage);
}

}  // namespace calvora
