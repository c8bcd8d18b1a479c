// One SQL Server database: full or differential backup by the SQL Server
// script into the plan's work folder, with retention before it, the TDE
// checks around it and the upload after it; plus the connection test and
// the database list of the desktop windows.
#include "engine/uCloudBackup.h"

#include "foundation/AppError.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

namespace calvora {

std::string TCloudBackupService::SqlBackupKind(const TBackupPlan& Plan) const {
  if (Plan.EnableDifferential && Plan.LastFullBackupAt > 0 &&
      MinutesBetween(Plan.LastFullBackupAt, FEnv.Now()) < Plan.FullBackupIntervalMinutes)
    return "Diff";
  return "Full";
}

std::string TCloudBackupService::SqlBackupFileName(const TBackupPlan& Plan) const {
  std::string suffix;
  if (Plan.EnableDifferential) suffix = SqlBackupKind(Plan) == "Diff" ? "_DIFF" : "_FULL";
  return SafeFilePrefix(Plan) + suffix + ".bak";
}

bool TCloudBackupService::BackupSqlDatabase(const TBackupPlan& Plan, std::string& BackupFilePath,
                                            std::string& ResultMessage) {
  BackupFilePath.clear();
  ResultMessage.clear();
  ReportProgress(Plan, "TDE Kontrol", "Veritabani sifreleme (TDE) durumu dogrulaniyor.", false, "");
  TTdePreCheck tde = RunTdePreCheck(Plan);

  if (tde.Anomaly) {
    // The last restorable backups may be the old ones: nothing is deleted.
    ReportProgress(Plan, "TDE Uyari", "TDE anomalisi tespit edildi; eski yedeklerin temizligi (retention) donduruldu.",
                   false, "");
  } else {
    ReportProgress(Plan, "Temizlik", "Eski yerel ve Drive yedekleri kontrol ediliyor.", false, "");
    ApplyLocalRetention(Plan);
    ApplyDriveRetention(Plan);
    CleanupOldFailedFiles(Plan, "");
  }

  ReportProgress(Plan, "SQL Backup", "Veritabani yedegi aliniyor.", false, "");
  TJson payload = TJson::object();
  payload["databaseName"] = Plan.DatabaseName;
  payload["backupDirectory"] = PlanWorkDirectory(Plan);
  payload["backupFileName"] = SqlBackupFileName(Plan);
  payload["useCompression"] = Plan.UseCompression;
  payload["backupType"] = SqlBackupKind(Plan);
  std::string scriptMessage;
  std::string produced;
  if (!RunSqlScript("backup", payload, scriptMessage, produced)) {
    ResultMessage = scriptMessage;
    if (tde.Anomaly) ResultMessage = "[TDE UYARISI] " + tde.AnomalyText + " | " + ResultMessage;
    ReportProgress(Plan, "Hata", ResultMessage, false, "");
    return false;
  }
  if (produced.empty() || !FileExists(produced))
    throw EAppError("SQL backup olustu ancak uygulama backup dosyasina erisemedi: " + produced +
                    ". Uzak SQL Server kullaniyorsaniz SQL Server servisi ile uygulamanin birlikte erisebildigi UNC "
                    "paylasim yolu kullanin.");

  const std::string headerError = Trim(LastScriptString("bakTdeCheckError"));
  CheckBackupHeader(Plan, tde);

  BackupFilePath = produced;
  std::string uploadMessage;
  const bool uploaded = UploadBackup(Plan, BackupFilePath, uploadMessage);
  return CombineTdeOutcome(Plan, tde, headerError, uploaded, uploadMessage, BackupFilePath, ResultMessage);
}

bool TCloudBackupService::TestConnection(std::string& ErrorMessage) {
  ErrorMessage.clear();
  try {
    if (!IsConfigured(FConfig)) throw EAppError("MSSQL backup ayarlari eksik.");
    const std::string output = Trim(FConfig.BackupOutputDir);
    if (!output.empty() && !ForceDirectories(output)) throw EFileError("Klasor olusturulamadi: " + output);
    std::string path;
    const bool ok = RunSqlScript("test", TJson::object(), ErrorMessage, path);
    if (ok)
      LogInfo("SQL backup baglanti testi basarili");
    else
      LogWarnFmt("SQL backup baglanti testi basarisiz: %s", ErrorMessage);
    return ok;
  } catch (const std::exception& e) {
    ErrorMessage = e.what();
    LogException("SQL backup baglanti testi hatasi", e);
    return false;
  }
}

bool TCloudBackupService::ListDatabases(std::vector<std::string>& Databases, std::string& ErrorMessage) {
  Databases.clear();
  ErrorMessage.clear();
  if (!IsConfigured(FConfig)) {
    ErrorMessage = "MSSQL backup ayarlari eksik.";
    return false;
  }
  bool success = false;
  try {
    TJson result = RunListDatabasesScript();
    ErrorMessage = JsonMemberText(result, "message");
    success = JsonMemberBool(result, "success");
    auto list = result.find("databases");
    if (success && list != result.end() && list->is_array())
      for (const TJson& item : *list) Databases.push_back(JsonValueText(item));
    return success;
  } catch (const std::exception& e) {
    ErrorMessage = e.what();
    LogException("SQL veritabani listeleme hatasi", e);
    return success;
  }
}

}  // namespace calvora
