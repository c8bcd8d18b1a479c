#include "engine/uCloudBackup.h"

#include "account/uFirebaseActiveAccount.h"
#include "accountdrive/uAccountDriveContext.h"
#include "accountdrive/uDriveQuotaManager.h"
#include "engine/uRestoreMetadata.h"
#include "foundation/AppError.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "google/uGoogleAuth.h"
#include "plans/uPlanActivityStore.h"

namespace calvora {

TCloudBackupService::TCloudBackupService(const TMSSQLBackupConfig& Config, TEnv& Env)
    : FEnv(Env), FConfig(Config), FFirebirdConfig(Env.Config().GetFirebirdBackupConfig()), FAppConfig(Env.Config()) {
  FGoogleAuth = CreateAccountGoogleAuth(FEnv);
  FGoogleDrive = std::make_unique<TGoogleDrive>(*FGoogleAuth);
}

TCloudBackupService::~TCloudBackupService() {
  FLastScriptData = nullptr;
  FGoogleDrive.reset();
  FGoogleAuth.reset();
}

bool TCloudBackupService::IsConfigured(const TMSSQLBackupConfig& Config) {
  return Config.Enabled && !IsBlank(Config.Server) && !IsBlank(Config.UserName);
}

bool TCloudBackupService::IsDiskSpaceError(const std::string& Message) {
  const std::string text = LowerAscii(Trim(Message));
  for (const char* words : {"disk alani yetersiz", "kota yetersiz", "hesap kotasi asiliyor",
                            "google drive kapasitesi yetersiz"})
    if (text.find(words) != std::string::npos) return true;
  return false;
}

// ---------------------------------------------------------------- shared internals

std::string TCloudBackupService::PlanWorkDirectory(const TBackupPlan& Plan) const {
  std::string dir = Trim(Plan.TempDirectory);
  return dir.empty() ? Trim(FConfig.BackupOutputDir) : dir;
}

void TCloudBackupService::EnsureGoogleToken() {
  // A refresh token alone (as the central pool may store it) is renewed by
  // GetValidToken below.
  TTokenData token;
  if (!FGoogleAuth->TryGetTokenData(token))
    throw EAppError("Google yetkilendirme tokeni bulunamadi. Masaustu uygulamadan yeniden yetkilendirme yapin.");
  if (IsBlank(FGoogleAuth->GetValidToken())) throw EAppError("Google erisim tokeni yenilenemedi.");
}

std::string TCloudBackupService::AccountRootFolderId() {
  std::string folderId;
  std::string error;
  bool driveFailed = false;
  if (!EnsureAccountRootFolder(FEnv, *FGoogleDrive, Trim(FAppConfig.GetRootFolderID()), folderId, error,
                               &driveFailed)) {
    if (driveFailed) throw EDriveError(error);
    throw EAppError(error);
  }
  return folderId;
}

std::string TCloudBackupService::PlanDriveFolderId(const TBackupPlan& Plan) {
  std::string root = AccountRootFolderId();
  if (IsBlank(Plan.DriveSubFolder)) return root;
  return FGoogleDrive->EnsureFolderPath(root, Plan.DriveSubFolder);
}

bool TCloudBackupService::CheckDriveQuota(std::int64_t BytesNeeded, std::string& Message) {
  Message.clear();
  return CheckDriveSpaceForUpload(FEnv, *FGoogleDrive, Trim(FAppConfig.GetRootFolderID()), BytesNeeded, Message);
}

// A stage report that cannot be stored must not cost the backup itself;
// the runner's own record at the end tells the outcome.
void TCloudBackupService::ReportProgress(const TBackupPlan& Plan, const std::string& Stage,
                                         const std::string& Message, bool UploadCompleted,
                                         const std::string& ActiveFile) {
  try {
    ReportPlanRunProgress(FEnv, Plan, Stage, Message, UploadCompleted, ActiveFile);
  } catch (const std::exception& e) {
    LogException("Plan ilerleme kaydi yazilamadi: " + Stage, e);
  }
}

// ---------------------------------------------------------------- BackupPlan

bool TCloudBackupService::BackupPlan(TBackupPlan& Plan, std::string& BackupFilePath, std::string& ResultMessage) {
  BackupFilePath.clear();
  ResultMessage.clear();
  try {
    const bool folderPlan = IsFolderPlan(Plan);
    const bool firebirdPlan = IsFirebirdPlan(Plan);
    if (!folderPlan && !firebirdPlan && !IsConfigured(FConfig)) throw EAppError("MSSQL backup ayarlari eksik.");
    if (firebirdPlan && !FFirebirdConfig.Enabled) throw EAppError("Firebird backup ayarlari etkin degil.");
    const bool sqlPlan = !folderPlan && !firebirdPlan;
    const std::vector<std::string> names = sqlPlan ? PlanDatabaseList(Plan) : std::vector<std::string>();
    if (!folderPlan && (IsBlank(Plan.DatabaseName) || (sqlPlan && names.empty())))
      throw EAppError("Plan icin veritabani adi/yolu girilmemis.");

    if (firebirdPlan) {
      std::string work = PlanWorkDirectory(Plan);
      if (!work.empty() && !ForceDirectories(work)) throw EFileError("Klasor olusturulamadi: " + work);
      return BackupFirebirdPlan(Plan, BackupFilePath, ResultMessage);
    }

    if (!folderPlan) {
      std::string work = PlanWorkDirectory(Plan);
      if (!work.empty() && !ForceDirectories(work)) throw EFileError("Klasor olusturulamadi: " + work);
      if (names.size() > 1) return BackupMultipleDatabases(Plan, names, BackupFilePath, ResultMessage);
      // The script and the restore information get the one name, not the text
      // around it ("Muhasebe;").
      TBackupPlan one = Plan;
      one.DatabaseName = names.front();
      return BackupSqlDatabase(one, BackupFilePath, ResultMessage);
    }

    ReportProgress(Plan, "Klasor Hazirlik", "Klasor dosyalari Drive hedefiyle esleniyor.", false, "");
    if (SyncFolderToDrive(Plan, BackupFilePath, ResultMessage)) {
      WriteRestoreMetadata(Plan, "");
      ReportProgress(Plan, "Upload Tamamlandi", ResultMessage, true, BackupFilePath);
      return true;
    }
    ReportProgress(Plan, "Hata", ResultMessage, false, BackupFilePath);
    return false;
  } catch (const std::exception& e) {
    ResultMessage = e.what();
    ReportProgress(Plan, "Hata", ResultMessage, false, BackupFilePath);
    LogException("DB backup istisnasi", e);
    return false;
  }
}

bool TCloudBackupService::BackupMultipleDatabases(const TBackupPlan& Plan, const std::vector<std::string>& Names,
                                                  std::string& BackupFilePath, std::string& ResultMessage) {
  return BackupEachDatabase(
      Plan, Names, "SQL Backup", [](const std::string& name) { return name; },
      [this](TBackupPlan& one, std::string& file, std::string& message) { return BackupPlan(one, file, message); },
      BackupFilePath, ResultMessage);
}

bool TCloudBackupService::BackupEachDatabase(const TBackupPlan& Plan, const std::vector<std::string>& Databases,
                                             const std::string& Stage,
                                             const std::function<std::string(const std::string&)>& Label,
                                             const TSingleBackup& BackupOne, std::string& BackupFilePath,
                                             std::string& ResultMessage) {
  std::vector<std::string> produced;
  std::vector<std::string> lines;
  int successes = 0;
  int failures = 0;
  for (const std::string& database : Databases) {
    TBackupPlan copy = Plan;
    copy.DatabaseName = database;
    ReportProgress(Plan, Stage, "Coklu DB yedekleniyor: " + database, false, "");
    std::string file;
    std::string message;
    if (BackupOne(copy, file, message)) {
      ++successes;
      if (!file.empty()) produced.push_back(file);
      lines.push_back(Label(database) + ": basarili");
    } else {
      ++failures;
      lines.push_back(Label(database) + ": hatali - " + message);
      if (IsDiskSpaceError(message)) {
        lines.push_back("Kalan veritabani gorevleri disk alani yetersiz oldugu icin durduruldu.");
        break;
      }
    }
  }
  BackupFilePath = Join(produced, "; ");
  ResultMessage = Fmt("%d veritabani yedeklendi, %d hata.", successes, failures);
  if (!lines.empty()) ResultMessage += " " + Join(lines, " | ");
  const bool ok = failures == 0 && successes > 0;
  ReportProgress(Plan, ok ? "Upload Tamamlandi" : "Hata", ResultMessage, ok, BackupFilePath);
  return ok;
}

}  // namespace calvora
