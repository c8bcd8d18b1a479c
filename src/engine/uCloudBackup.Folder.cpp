// Folder plans: the source folder tree mirrored into the plan's Drive
// folder. New files are uploaded, changed files updated in place (Drive
// keeps the older content as a revision), unchanged ones skipped; files
// another program holds are read through a readable copy or skipped.
#include "engine/uCloudBackup.h"

#include "account/uBackupPolicyStore.h"
#include "accountdrive/uDriveQuotaManager.h"
#include "engine/uFileHasher.h"
#include "foundation/AppError.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

namespace calvora {
namespace fs = std::filesystem;
namespace {

constexpr const char kStage[] = "Klasor Upload";

// The Drive folders one run touches, each listed at most once: the folder
// tree is resolved from those listings and every file is looked up in its
// folder's listing, instead of one query per folder level and per file.
class TDriveFolderIndex {
 public:
  TDriveFolderIndex(TGoogleDrive& Drive, std::string TargetID) : FDrive(Drive), FTargetID(std::move(TargetID)) {
    FFolders[""] = FTargetID;
  }

  // The Drive folder of a relative folder ("a/b"), created when missing.
  std::string FolderFor(const std::string& RelDir) {
    auto known = FFolders.find(RelDir);
    if (known != FFolders.end()) return known->second;
    const size_t slash = RelDir.rfind('/');
    const std::string parentRel = slash == std::string::npos ? std::string() : RelDir.substr(0, slash);
    const std::string name = slash == std::string::npos ? RelDir : RelDir.substr(slash + 1);
    const std::string parentID = FolderFor(parentRel);
    std::string id = FindFolder(parentID, name);
    if (id.empty()) {
      id = FDrive.CreateFolder(name, parentID);
      if (id.empty()) throw EAppError("Drive klasoru olusturulamadi: " + RelDir);
      // A new folder is known to be empty; it needs no listing.
      FListings[id].listed = true;
      TDriveFileInfo folder;
      folder.FileID = id;
      folder.Name = name;
      folder.MimeType = kDriveFolderMimeType;
      Listing(parentID).items.push_back(folder);
    }
    FFolders[RelDir] = id;
    return id;
  }

  // The Drive file for a local file: the child of that exact name, else the
  // first whose name matches ignoring case unless another local file of the
  // folder carries exactly that name (case-sensitive file systems can hold
  // both, and they must not overwrite each other's copy).
  TDriveFileInfo FindFile(const std::string& FolderID, const std::string& Name,
                          const std::set<std::string>& LocalNames) {
    const auto& items = Listing(FolderID).items;
    for (const TDriveFileInfo& item : items)
      if (!IsFolder(item) && item.Name == Name) return item;
    for (const TDriveFileInfo& item : items)
      if (!IsFolder(item) && SameText(item.Name, Name) && LocalNames.count(item.Name) == 0) return item;
    return TDriveFileInfo();
  }

  void Remember(const std::string& FolderID, const TDriveFileInfo& File) {
    auto& items = Listing(FolderID).items;
    for (TDriveFileInfo& item : items)
      if (item.FileID == File.FileID) {
        item = File;
        return;
      }
    items.push_back(File);
  }

 private:
  struct TListing {
    bool listed = false;
    std::vector<TDriveFileInfo> items;
  };

  static bool IsFolder(const TDriveFileInfo& item) { return item.MimeType == kDriveFolderMimeType; }

  // A folder that cannot be listed stops the run: taking it for empty would
  // upload a second copy of every file in it.
  TListing& Listing(const std::string& FolderID) {
    TListing& listing = FListings[FolderID];
    if (!listing.listed) {
      std::string error;
      if (!FDrive.TryListFiles(FolderID, listing.items, &error))
        throw EDriveError("Drive klasoru listelenemedi: " + FolderID + " (" + error + ")");
      listing.listed = true;
    }
    return listing;
  }

  std::string FindFolder(const std::string& ParentID, const std::string& Name) {
    const auto& items = Listing(ParentID).items;
    for (const TDriveFileInfo& item : items)
      if (IsFolder(item) && item.Name == Name) return item.FileID;
    for (const TDriveFileInfo& item : items)
      if (IsFolder(item) && SameText(item.Name, Name)) return item.FileID;
    return std::string();
  }

  TGoogleDrive& FDrive;
  std::string FTargetID;
  std::map<std::string, std::string> FFolders;  // relative folder -> Drive folder
  std::map<std::string, TListing> FListings;    // Drive folder -> its children
};

// The quota within one run: the usage is measured once and then kept
// current with what the run itself adds, instead of measuring the whole
// account folder tree again before every file. Whenever the local figure
// would refuse (or could not be measured), the quota guard itself decides
// and gives its message.
class TRunQuota {
 public:
  using TGuard = std::function<bool(std::int64_t, std::string&)>;
  TRunQuota(TEnv& Env, TGoogleDrive& Drive, std::string RootFolderID, TGuard Guard)
      : FEnv(Env), FDrive(Drive), FRootFolderID(std::move(RootFolderID)), FGuard(std::move(Guard)) {}

  bool Check(std::int64_t Needed, std::string& Message) {
    Message.clear();
    if (Needed <= 0) return true;
    if (!FMeasured) Measure();
    if (FKnown && (FUsage.LimitBytes <= 0 || FUsage.UsedBytes <= FUsage.LimitBytes - Needed)) return true;
    const bool ok = FGuard(Needed, Message);
    if (ok && FKnown) Measure();
    return ok;
  }

  void Added(std::int64_t Bytes) {
    if (FKnown) FUsage.UsedBytes = AddByteCounts(FUsage.UsedBytes, Bytes);
  }

 private:
  void Measure() {
    FMeasured = true;
    std::string error;
    FKnown = GetAccountDriveUsage(FEnv, FDrive, FRootFolderID, FUsage, error);
  }

  TEnv& FEnv;
  TGoogleDrive& FDrive;
  std::string FRootFolderID;
  TGuard FGuard;
  bool FMeasured = false;
  bool FKnown = false;
  TAccountDriveUsage FUsage;
};

// Regular files only: a pipe or device below the folder is not a file to
// back up (and reading a pipe would never end).
std::vector<std::string> ListSourceFiles(const std::string& Root) {
  std::vector<std::string> files;
  std::error_code ec;
  fs::recursive_directory_iterator it(Root, fs::directory_options::skip_permission_denied, ec), end;
  if (ec) throw EFileError("Kaynak klasor okunamadi: " + Root + " (" + ec.message() + ")");
  for (; it != end; it.increment(ec)) {
    if (ec) throw EFileError("Kaynak klasor okunamadi: " + Root + " (" + ec.message() + ")");
    std::error_code typeError;
    if (it->is_regular_file(typeError)) files.push_back(it->path().string());
  }
  if (ec) throw EFileError("Kaynak klasor okunamadi: " + Root + " (" + ec.message() + ")");
  return files;
}

}  // namespace

void TCloudBackupService::ApplyBackupPolicy(const TBackupPlan& Plan, std::vector<std::string>& Files) {
  if (Files.empty()) return;
  TBackupPolicy policy;
  bool hasPolicy = false;
  std::string error;
  if (!GetActiveBackupPolicy(FEnv, policy, hasPolicy, error)) {
    if (hasPolicy) throw EAppError("Hesaba atanan yedekleme politikasi okunamadi: " + error);
    LogWarnFmt("Yedekleme politikasi kontrol edilemedi, filtre uygulanmadan devam ediliyor: %s", error);
    return;
  }
  if (!hasPolicy) return;
  const size_t before = Files.size();
  Files.erase(std::remove_if(Files.begin(), Files.end(),
                             [&](const std::string& path) { return !IsFileAllowedByPolicy(policy, path); }),
              Files.end());
  LogInfoFmt("Yedekleme politikasi \"%s\" uygulandi (plan: %s): %d dosyadan %d tanesi yedeklenecek.", policy.Name,
             Plan.Name, before, Files.size());
  ReportProgress(Plan, kStage,
                 Fmt("Yedekleme politikasi \"%s\" uygulandi: %d dosyadan %d tanesi yedeklenecek.", policy.Name,
                     before, Files.size()),
                 false, Plan.SourceFolder);
}

bool TCloudBackupService::SyncFolderToDrive(const TBackupPlan& Plan, std::string& SourcePath, std::string& Message) {
  SourcePath.clear();
  Message.clear();
  const std::string source = Trim(Plan.SourceFolder);
  if (source.empty()) throw EAppError("Klasor yedegi icin kaynak klasor girilmemis.");
  if (!DirectoryExists(source)) throw EAppError("Kaynak klasor bulunamadi: " + Plan.SourceFolder);

  EnsureGoogleToken();
  const std::string target = PlanDriveFolderId(Plan);
  if (target.empty()) throw EAppError("Drive root folder ayari eksik.");

  const std::string prefix = IncludeTrailingSeparator(source);
  std::vector<std::string> files = ListSourceFiles(prefix);
  ApplyBackupPolicy(Plan, files);
  if (files.empty()) {
    SourcePath = source;
    Message =
        "Yedeklenecek dosya yok (klasor bos veya politika filtreleri tum dosyalari disladi). Drive tarafinda "
        "degisiklik yapilmadi.";
    return true;
  }

  // Local names per folder, for telling apart names that differ in case only.
  std::map<std::string, std::set<std::string>> localNames;
  for (const std::string& file : files) {
    const std::string rel = file.substr(prefix.size());
    localNames[ExtractFileDir(rel)].insert(ExtractFileName(rel));
  }

  TDriveFolderIndex index(*FGoogleDrive, target);
  TRunQuota quota(FEnv, *FGoogleDrive, Trim(FAppConfig.GetRootFolderID()),
                  [this](std::int64_t needed, std::string& message) { return CheckDriveQuota(needed, message); });
  int added = 0, updated = 0, unchanged = 0, skipped = 0;
  const int n = static_cast<int>(files.size());

  // Every report rewrites the protected activity file; the routine per-file
  // ones go out at most once a second (and for the first and the last
  // file), which is still more often than the monitor looks.
  TDateTime lastRoutineReport = 0;
  auto reportRoutine = [&](int p, const std::string& text, const std::string& activeFile) {
    const TDateTime now = FEnv.Now();
    if (p != 1 && p != n && lastRoutineReport > 0 && MillisecondsBetween(now, lastRoutineReport) < 1000) return;
    lastRoutineReport = now;
    ReportProgress(Plan, kStage, text, false, activeFile);
  };

  for (int p = 1; p <= n; ++p) {
    const std::string& full = files[static_cast<size_t>(p - 1)];
    const std::string rel = full.substr(prefix.size());
    const std::string relDir = ExtractFileDir(rel);
    const std::string name = ExtractFileName(rel);
    const std::string folderID = (relDir.empty() || relDir == ".") ? target : index.FolderFor(relDir);
    reportRoutine(p, Fmt("%d/%d dosya esleniyor: %s", p, n, rel), full);
    const TDriveFileInfo existing = index.FindFile(folderID, name, localNames[relDir]);

    std::string copyPath, copyError;
    auto transfer = [&](const std::string& readPath) {
      const std::int64_t size = FileSizeOf(readPath);
      if (size < 0) throw EFileError("Dosya okunamadi: " + readPath);
      std::string quotaMessage;
      if (!existing.FileID.empty()) {
        // A different size is a change without reading the file.
        if (!existing.MD5.empty() && existing.Size == size && SameText(existing.MD5, FileMD5(readPath))) {
          ++unchanged;
          reportRoutine(p, Fmt("%d/%d dosya degismemis, atlandi: %s", p, n, rel), full);
          return;
        }
        // The Drive client reports a file it cannot read as a failed upload;
        // found here, it takes the locked-file way instead.
        EnsureFileReadable(readPath);
        const std::int64_t needed = std::max<std::int64_t>(0, size - existing.Size);
        if (!quota.Check(needed, quotaMessage)) throw EAppError("Kota yetersiz: " + rel + " | " + quotaMessage);
        TDriveFileInfo result = FGoogleDrive->UpdateFileContent(existing.FileID, readPath, FOnUploadProgress);
        if (result.FileID.empty()) throw EAppError("Drive dosya guncelleme basarisiz: " + rel);
        quota.Added(needed);
        if (result.Name.empty()) result.Name = existing.Name;
        index.Remember(folderID, result);
        ++updated;
        return;
      }
      EnsureFileReadable(readPath);
      if (!quota.Check(size, quotaMessage)) throw EAppError("Kota yetersiz: " + rel + " | " + quotaMessage);
      TDriveFileInfo result = FGoogleDrive->UploadFile(readPath, folderID, FOnUploadProgress);
      if (result.FileID.empty()) throw EAppError("Drive upload basarisiz: " + rel);
      quota.Added(size);
      if (result.Name.empty()) result.Name = name;
      index.Remember(folderID, result);
      ++added;
    };

    try {
      try {
        transfer(full);
      } catch (const std::exception& e) {
        if (!IsLockedFileError(e)) throw;
        if (!CreateReadableCopy(full, copyPath, copyError)) {
          copyPath.clear();
          throw;
        }
        LogWarnFmt("Snapshot kopyasi kullaniliyor: %s", rel);
        ReportProgress(Plan, kStage, Fmt("%d/%d dosya snapshot ile okunuyor: %s", p, n, rel), false, copyPath);
        transfer(copyPath);
      }
    } catch (const std::exception& e) {
      DeleteReadableCopy(copyPath);
      if (!IsLockedFileError(e)) throw;
      ++skipped;
      if (!copyError.empty())
        LogWarnFmt("Dosya okunamadi, snapshot da basarisiz: %s | %s", rel, copyError);
      else
        LogWarnFmt("Dosya baska bir uygulama tarafindan acik, atildi: %s", rel);
      ReportProgress(Plan, kStage, Fmt("%d/%d dosya acik oldugu icin atildi: %s", p, n, rel), false, full);
      continue;
    }
    DeleteReadableCopy(copyPath);
  }

  SourcePath = source;
  if (skipped == 0)
    Message = Fmt("%d dosya kontrol edildi: %d yeni, %d guncellendi, %d degismemis.", added + updated + unchanged,
                  added, updated, unchanged);
  else
    Message = Fmt(
        "%d dosya kontrol edildi: %d yeni, %d guncellendi, %d degismemis. %d dosya baska uygulama tarafindan acik "
        "oldugu icin atildi.",
        added + updated + unchanged + skipped, added, updated, unchanged, skipped);
  return true;
}

}  // namespace calvora
