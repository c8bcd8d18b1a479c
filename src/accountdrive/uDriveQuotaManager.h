#pragma once
// How much space a customer may use: the account's own quota (measured as
// the size of its account root folder) when it has one, else the Google
// Drive account's storage; the check made before every upload.
#include "foundation/Env.h"

#include <cstdint>
#include <string>

namespace calvora {

class TGoogleDrive;

struct TAccountDriveUsage {
  bool UsesAccountQuota = false;  // the limit is the account's quota, not the Drive storage
  std::int64_t LimitBytes = 0;    // 0 or less: unlimited
  std::int64_t UsedBytes = 0;
};

// Never throws; false with the error text.
bool GetAccountDriveUsage(TEnv& env, TGoogleDrive& Drive, const std::string& RootFolderID,
                          TAccountDriveUsage& Usage, std::string& Error);
// True when RequiredBytes more fit under the limit (reaching it exactly is
// allowed); RequiredBytes of 0 or less passes without any request. Never
// throws; false with "Disk alani yetersiz. ..." or the lookup's error.
bool CheckDriveSpaceForUpload(TEnv& env, TGoogleDrive& Drive, const std::string& RootFolderID,
                              std::int64_t RequiredBytes, std::string& Error);
// "1023 B", "1.00 KB", "1.50 MB", "2.00 GB", "1.00 TB" (powers of 1024, two
// decimals).
std::string FormatByteSize(std::int64_t Bytes);

}  // namespace calvora
