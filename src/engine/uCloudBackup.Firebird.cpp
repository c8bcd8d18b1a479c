// Firebird databases through the Firebird script (gbak).
#include "engine/uCloudBackup.h"

#include "foundation/AppError.h"

namespace calvora {

bool TCloudBackupService::BackupFirebirdPlan(const TBackupPlan& Plan, std::string& BackupFilePath,
                                             std::string& ResultMessage) {
  (void)Plan;
  BackupFilePath.clear();
  ResultMessage.clear();
  throw EAppError("Firebird yedekleme henuz desteklenmiyor.");
}

}  // namespace calvora
