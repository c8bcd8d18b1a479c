#include "accountdrive/uDriveQuotaManager.h"

#include "account/uFirebaseActiveAccount.h"
#include "accountdrive/uAccountDriveContext.h"
#include "foundation/Format.h"
#include "foundation/TextUtil.h"
#include "google/uGoogleDrive.h"

#include <limits>
#include <set>
#include <vector>

namespace calvora {
namespace {

constexpr std::int64_t kMiB = 1048576;

// Size of everything below the folder. Unlike a plain size sum, a listing
// that fails makes the measurement fail: counting an unreadable folder as
// empty would let uploads past the account's quota. Each folder counts once
// (a server may list a folder below itself) and the sum stops at the
// largest 64-bit value.
bool MeasureFolder(TGoogleDrive& Drive, const std::string& FolderID, std::int64_t& Total) {
  std::set<std::string> seen;
  std::vector<std::string> pending{FolderID};
  while (!pending.empty()) {
    const std::string folder = pending.back();
    pending.pop_back();
    if (!seen.insert(folder).second) continue;
    std::vector<TDriveFileInfo> items;
    if (!Drive.TryListFiles(folder, items)) return false;
    for (const TDriveFileInfo& item : items) {
      if (SameText(item.MimeType, kDriveFolderMimeType))
        pending.push_back(item.FileID);
      else
        Total = AddByteCounts(Total, item.Size);
    }
  }
  return true;
}

// The account quota in bytes; a figure too large for 64 bits is the largest.
std::int64_t QuotaBytes(std::int64_t QuotaMB) {
  return QuotaMB > std::numeric_limits<std::int64_t>::max() / kMiB ? std::numeric_limits<std::int64_t>::max()
                                                                     : QuotaMB * kMiB;
}

}  // namespace

bool GetAccountDriveUsage(TEnv& env, TGoogleDrive& Drive, const std::string& RootFolderID,
                          TAccountDriveUsage& Usage, std::string& Error) {
  Usage = TAccountDriveUsage();
  Error.clear();
  TFirebaseManagedAccount account;
  if (!GetActiveAccount(env, account, Error)) return false;
  try {
    if (account.StorageQuotaMB > 0) {
      Usage.UsesAccountQuota = true;
      Usage.LimitBytes = QuotaBytes(account.StorageQuotaMB);
      std::string folderID;
      if (!EnsureAccountRootFolder(env, Drive, RootFolderID, folderID, Error)) return false;
      std::int64_t used = 0;
      if (!MeasureFolder(Drive, folderID, used)) {
        Error = "Hesap klasorunun kullandigi alan okunamadi.";
        return false;
      }
      Usage.UsedBytes = used;
      return true;
    }
    TDriveStorageQuota quota;
    if (!Drive.GetStorageQuota(quota)) {
      Error = "Drive kota bilgisi okunamadi.";
      return false;
    }
    Usage.LimitBytes = quota.LimitBytes;
    Usage.UsedBytes = quota.UsedBytes;
    return true;
  } catch (const std::exception& e) {
    Error = std::string("Drive kota bilgisi okunamadi: ") + e.what();
    return false;
  }
}

bool CheckDriveSpaceForUpload(TEnv& env, TGoogleDrive& Drive, const std::string& RootFolderID,
                              std::int64_t RequiredBytes, std::string& Error) {
  Error.clear();
  if (RequiredBytes <= 0) return true;
  TAccountDriveUsage usage;
  if (!GetAccountDriveUsage(env, Drive, RootFolderID, usage, Error)) return false;
  if (usage.LimitBytes <= 0) return true;
  if (usage.UsedBytes > usage.LimitBytes - RequiredBytes) {
    Error = Fmt(usage.UsesAccountQuota
                    ? "Disk alani yetersiz. Hesap kotasi asiliyor. Kullanilan: %s, Limit: %s, Gerekli ek alan: %s."
                    : "Disk alani yetersiz. Google Drive kapasitesi yetersiz. Kullanilan: %s, Limit: %s, Gerekli ek alan: %s.",
                FormatByteSize(usage.UsedBytes), FormatByteSize(usage.LimitBytes), FormatByteSize(RequiredBytes));
    return false;
  }
  return true;
}

std::string FormatByteSize(std::int64_t Bytes) {
  const double value = static_cast<double>(Bytes);
  if (Bytes >= 1099511627776LL) return Fmt("%.2f TB", value / 1099511627776.0);
  if (Bytes >= 1073741824LL) return Fmt("%.2f GB", value / 1073741824.0);
  if (Bytes >= kMiB) return Fmt("%.2f MB", value / 1048576.0);
  if (Bytes < 1024) return Fmt("%d B", Bytes);
  return Fmt("%.2f KB", value / 1024.0);
}

}  // namespace calvora
