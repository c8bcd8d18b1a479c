// SQL Server databases through the SQL Server script.
#include "engine/uCloudBackup.h"

#include "foundation/AppError.h"

namespace calvora {

bool TCloudBackupService::BackupSqlDatabase(const TBackupPlan& Plan, std::string& BackupFilePath,
                                            std::string& ResultMessage) {
  (void)Plan;
  BackupFilePath.clear();
  ResultMessage.clear();
  throw EAppError("SQL Server yedekleme henuz desteklenmiyor.");
}

}  // namespace calvora
