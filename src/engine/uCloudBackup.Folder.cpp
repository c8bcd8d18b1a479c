// Folder plans: the source folder tree mirrored into the plan's Drive
// folder. New files are uploaded, changed files updated in place (Drive
// keeps the older content as a revision), unchanged ones skipped; files
// another program holds are read through a readable copy or skipped.
#include "engine/uCloudBackup.h"

#include "account/uBackupPolicyStore.h"
#include "accountdrive/uDriveQuotaManager.h"
#include "engine/TransferPool.h"
#include "engine/uFileHasher.h"
#include "foundation/AppError.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "google/DriveBackoff.h"

#include <algorithm>
#include <filesystem>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
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
// account folder tree again before every file. A transfer reserves its
// bytes before it starts, so transfers running side by side never add up
// past the limit; what a transfer does not use is released. Whenever the
// local figure would refuse (or could not be measured), the transfers under
// way are waited for and the quota guard itself decides on what Drive then
// holds, and gives its message: the same decision a one-at-a-time run makes.
class TRunQuota {
 public:
  using TGuard = std::function<bool(std::int64_t, std::string&)>;
  TRunQuota(TEnv& Env, TGoogleDrive& Drive, std::string RootFolderID, TGuard Guard)
      : FEnv(Env), FDrive(Drive), FRootFolderID(std::move(RootFolderID)), FGuard(std::move(Guard)) {}

  bool Reserve(std::int64_t Needed, std::string& Message, const std::function<void()>& WaitForTransfers) {
    Message.clear();
    if (Needed <= 0) return true;
    if (!FMeasured) Measure();
    if (FKnown && (FUsage.LimitBytes <= 0 || AddByteCounts(FUsage.UsedBytes, FReserved) <= FUsage.LimitBytes - Needed)) {
      FReserved += Needed;
      return true;
    }
    WaitForTransfers();
    if (!FGuard(Needed, Message)) return false;
    if (FKnown) Measure();
    FReserved += Needed;
    return true;
  }

  // The transfer landed: its bytes now count as used.
  void Commit(std::int64_t Bytes) {
    if (Bytes <= 0) return;
    FReserved -= Bytes;
    if (FKnown) FUsage.UsedBytes = AddByteCounts(FUsage.UsedBytes, Bytes);
  }

  void Release(std::int64_t Bytes) {
    if (Bytes > 0) FReserved -= Bytes;
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
  std::int64_t FReserved = 0;
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

// What the run needs of the engine; every hook may be called from a worker
// except Report.
struct TSyncHooks {
  std::function<void(const std::string& Text, const std::string& ActiveFile)> Report;
  std::function<bool(const std::string& Source, std::string& CopyPath, std::string& Error)> MakeCopy;
  std::function<void(const std::string& CopyPath)> DeleteCopy;
  TUploadProgress Progress;
};

// One file of the run: where it is, where it goes, what Drive holds of it.
struct TSyncFile {
  int Position = 0;  // 1-based, in the order the files were listed
  std::string Full;
  std::string Rel;
  std::string Name;
  std::string FolderID;
  TDriveFileInfo Existing;
};

// What a worker's transfer came to, taken back to the caller's thread.
struct TTransferOutcome {
  enum class TKind { Added, Updated, Unchanged, Skipped, Failed };
  TKind Kind = TKind::Failed;
  TDriveFileInfo Result;
  std::string CopyPath;  // a readable copy the worker made (gone by now)
  std::string CopyError;
  std::exception_ptr Error;
};

// The files of one run. This thread (the caller's) walks them in order,
// resolves their folders, decides unchanged files, reserves quota, counts
// and reports; the transfers go to the pool.
class TFolderSyncRun {
 public:
  TFolderSyncRun(TSyncHooks Hooks, TDriveFolderIndex& Index, TRunQuota& Quota, TGoogleDrive& CallerDrive,
                 std::vector<std::unique_ptr<TGoogleDrive>> WorkerDrives, int Total)
      : FHooks(std::move(Hooks)),
        FIndex(Index),
        FQuota(Quota),
        FTotal(Total),
        FPool(CallerDrive, std::move(WorkerDrives)) {}

  void SyncFile(TSyncFile File, const std::set<std::string>& LocalNames, TDateTime Now) {
    FNow = Now;
    ReportRoutine(File.Position, Fmt("%d/%d dosya esleniyor: %s", Done() + 1, FTotal, File.Rel), File.Full);
    File.Existing = FIndex.FindFile(File.FolderID, File.Name, LocalNames);
    // A Drive file that a transfer under way is still writing is compared
    // with what that transfer leaves there.
    if (!File.Existing.FileID.empty() && FWriting.count(File.Existing.FileID) != 0) {
      FPool.Drain();
      File.Existing = FIndex.FindFile(File.FolderID, File.Name, LocalNames);
    }
    std::string copyPath, copyError;
    bool handedOver = false;
    try {
      try {
        handedOver = Prepare(File, File.Full, std::string());
      } catch (const std::exception& e) {
        if (!TCloudBackupService::IsLockedFileError(e)) throw;
        if (!FHooks.MakeCopy(File.Full, copyPath, copyError)) {
          copyPath.clear();
          throw;
        }
        LogWarnFmt("Snapshot kopyasi kullaniliyor: %s", File.Rel);
        FHooks.Report(Fmt("%d/%d dosya snapshot ile okunuyor: %s", Done() + 1, FTotal, File.Rel), copyPath);
        handedOver = Prepare(File, copyPath, copyPath);
      }
    } catch (const std::exception& e) {
      FHooks.DeleteCopy(copyPath);
      if (!TCloudBackupService::IsLockedFileError(e)) throw;
      Skip(File, copyError);
      return;
    }
    if (!handedOver) FHooks.DeleteCopy(copyPath);
  }

  void WaitForTransfers() { FPool.Drain(); }

  std::string Summary() const {
    if (FSkipped == 0)
      return Fmt("%d dosya kontrol edildi: %d yeni, %d guncellendi, %d degismemis.", FAdded + FUpdated + FUnchanged,
                 FAdded, FUpdated, FUnchanged);
    return Fmt(
        "%d dosya kontrol edildi: %d yeni, %d guncellendi, %d degismemis. %d dosya baska uygulama tarafindan acik "
        "oldugu icin atildi.",
        FAdded + FUpdated + FUnchanged + FSkipped, FAdded, FUpdated, FUnchanged, FSkipped);
  }

 private:
  int Done() const { return FAdded + FUpdated + FUnchanged + FSkipped; }

  // Every report rewrites the protected activity file; the routine per-file
  // ones go out at most once a second (and for the first and the last
  // file), which is still more often than the monitor looks.
  void ReportRoutine(int Position, const std::string& Text, const std::string& ActiveFile) {
    if (Position != 1 && Position != FTotal && FLastRoutineReport > 0 &&
        MillisecondsBetween(FNow, FLastRoutineReport) < 1000)
      return;
    FLastRoutineReport = FNow;
    FHooks.Report(Text, ActiveFile);
  }

  // Decides the file from ReadPath: unchanged (false), or reserved and
  // handed to the pool (true), which then owns CopyPath.
  bool Prepare(const TSyncFile& File, const std::string& ReadPath, const std::string& CopyPath) {
    const std::int64_t size = FileSizeOf(ReadPath);
    if (size < 0) throw EFileError("Dosya okunamadi: " + ReadPath);
    std::int64_t needed = size;
    if (!File.Existing.FileID.empty()) {
      if (IsUnchanged(File.Existing, ReadPath, size)) {
        ++FUnchanged;
        ReportRoutine(File.Position, Fmt("%d/%d dosya degismemis, atlandi: %s", Done(), FTotal, File.Rel), File.Full);
        return false;
      }
      needed = std::max<std::int64_t>(0, size - File.Existing.Size);
    }
    // The Drive client reports a file it cannot read as a failed upload;
    // found here, it takes the locked-file way instead.
    EnsureFileReadable(ReadPath);
    std::string quotaMessage;
    if (!FQuota.Reserve(needed, quotaMessage, [this] { FPool.Drain(); }))
      throw EAppError("Kota yetersiz: " + File.Rel + " | " + quotaMessage);
    if (!File.Existing.FileID.empty()) FWriting.insert(File.Existing.FileID);
    FPool.Submit([this, File, ReadPath, CopyPath, needed](TGoogleDrive& Drive) -> TTransferPool::TFinish {
      TTransferOutcome outcome = Transfer(Drive, File, ReadPath, CopyPath);
      return [this, File, needed, outcome] { Finish(File, needed, outcome); };
    });
    return true;
  }

  // A different size is a change without reading the file.
  static bool IsUnchanged(const TDriveFileInfo& Existing, const std::string& ReadPath, std::int64_t Size) {
    return !Existing.MD5.empty() && Existing.Size == Size && SameText(Existing.MD5, FileMD5(ReadPath));
  }

  // On a worker: the upload, and the readable copy when the file turns out
  // to be held by another program only while it is sent.
  TTransferOutcome Transfer(TGoogleDrive& Drive, const TSyncFile& File, const std::string& ReadPath,
                            std::string CopyPath) const {
    TTransferOutcome outcome;
    try {
      try {
        Send(Drive, File, ReadPath, false, outcome);
      } catch (const std::exception& e) {
        if (!TCloudBackupService::IsLockedFileError(e) || !CopyPath.empty()) throw;
        if (!FHooks.MakeCopy(File.Full, CopyPath, outcome.CopyError)) {
          CopyPath.clear();
          throw;
        }
        outcome.CopyPath = CopyPath;
        Send(Drive, File, CopyPath, true, outcome);
      }
    } catch (const std::exception& e) {
      outcome.Kind = TCloudBackupService::IsLockedFileError(e) ? TTransferOutcome::TKind::Skipped
                                                               : TTransferOutcome::TKind::Failed;
      if (outcome.Kind == TTransferOutcome::TKind::Failed) outcome.Error = std::current_exception();
    }
    FHooks.DeleteCopy(CopyPath);
    return outcome;
  }

  void Send(TGoogleDrive& Drive, const TSyncFile& File, const std::string& ReadPath, bool Compare,
            TTransferOutcome& Outcome) const {
    const TDriveFileInfo& existing = File.Existing;
    if (!existing.FileID.empty()) {
      if (Compare && IsUnchanged(existing, ReadPath, FileSizeOf(ReadPath))) {
        Outcome.Kind = TTransferOutcome::TKind::Unchanged;
        return;
      }
      EnsureFileReadable(ReadPath);
      Outcome.Result = Drive.UpdateFileContent(existing.FileID, ReadPath, FHooks.Progress);
      if (Outcome.Result.FileID.empty()) throw EAppError("Drive dosya guncelleme basarisiz: " + File.Rel);
      if (Outcome.Result.Name.empty()) Outcome.Result.Name = existing.Name;
      Outcome.Kind = TTransferOutcome::TKind::Updated;
      return;
    }
    EnsureFileReadable(ReadPath);
    Outcome.Result = Drive.UploadFile(ReadPath, File.FolderID, FHooks.Progress);
    if (Outcome.Result.FileID.empty()) throw EAppError("Drive upload basarisiz: " + File.Rel);
    if (Outcome.Result.Name.empty()) Outcome.Result.Name = File.Name;
    Outcome.Kind = TTransferOutcome::TKind::Added;
  }

  // Back on this thread: the transfer is counted, reported and remembered.
  void Finish(const TSyncFile& File, std::int64_t Needed, const TTransferOutcome& Outcome) {
    FWriting.erase(File.Existing.FileID);
    if (!Outcome.CopyPath.empty()) {
      LogWarnFmt("Snapshot kopyasi kullaniliyor: %s", File.Rel);
      FHooks.Report(Fmt("%d/%d dosya snapshot ile okunuyor: %s", Done() + 1, FTotal, File.Rel), Outcome.CopyPath);
    }
    switch (Outcome.Kind) {
      case TTransferOutcome::TKind::Added:
      case TTransferOutcome::TKind::Updated:
        FQuota.Commit(Needed);
        FIndex.Remember(File.FolderID, Outcome.Result);
        ++(Outcome.Kind == TTransferOutcome::TKind::Added ? FAdded : FUpdated);
        return;
      case TTransferOutcome::TKind::Unchanged:
        FQuota.Release(Needed);
        ++FUnchanged;
        ReportRoutine(File.Position, Fmt("%d/%d dosya degismemis, atlandi: %s", Done(), FTotal, File.Rel), File.Full);
        return;
      case TTransferOutcome::TKind::Skipped:
        FQuota.Release(Needed);
        Skip(File, Outcome.CopyError);
        return;
      case TTransferOutcome::TKind::Failed:
        FQuota.Release(Needed);
        std::rethrow_exception(Outcome.Error);
    }
  }

  void Skip(const TSyncFile& File, const std::string& CopyError) {
    ++FSkipped;
    if (!CopyError.empty())
      LogWarnFmt("Dosya okunamadi, snapshot da basarisiz: %s | %s", File.Rel, CopyError);
    else
      LogWarnFmt("Dosya baska bir uygulama tarafindan acik, atildi: %s", File.Rel);
    FHooks.Report(Fmt("%d/%d dosya acik oldugu icin atildi: %s", Done(), FTotal, File.Rel), File.Full);
  }

  TSyncHooks FHooks;
  TDriveFolderIndex& FIndex;
  TRunQuota& FQuota;
  const int FTotal;
  int FAdded = 0, FUpdated = 0, FUnchanged = 0, FSkipped = 0;
  std::set<std::string> FWriting;  // Drive files a transfer under way updates
  TDateTime FNow = 0;
  TDateTime FLastRoutineReport = 0;
  // Last, so it goes first: transfers under way when an error leaves end
  // before anything they use.
  TTransferPool FPool;
};

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

  // One back-off for every client of the run, the folder lookups included:
  // a rate limit met by one holds back all.
  auto backoff = std::make_shared<TDriveBackoff>(FEnv.Clock());
  FGoogleDrive->SetBackoff(backoff);

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

  std::mutex copyLock, progressLock;
  TSyncHooks hooks;
  hooks.Report = [&](const std::string& text, const std::string& activeFile) {
    ReportProgress(Plan, kStage, text, false, activeFile);
  };
  // The locked-file script keeps its result on the engine: one at a time.
  hooks.MakeCopy = [&](const std::string& sourceFile, std::string& copyPath, std::string& error) {
    std::lock_guard<std::mutex> guard(copyLock);
    return CreateReadableCopy(sourceFile, copyPath, error);
  };
  hooks.DeleteCopy = [this](const std::string& copyPath) { DeleteReadableCopy(copyPath); };
  if (FOnUploadProgress)
    hooks.Progress = [&](std::int64_t sent, std::int64_t total) {
      std::lock_guard<std::mutex> guard(progressLock);
      FOnUploadProgress(sent, total);
    };

  std::vector<std::unique_ptr<TGoogleDrive>> workerDrives;
  const int workers = std::min<int>(FFolderUploadWorkers, static_cast<int>(files.size()));
  for (int i = 0; workers > 1 && i < workers; ++i) {
    workerDrives.push_back(std::make_unique<TGoogleDrive>(*FGoogleAuth));
    workerDrives.back()->SetBackoff(backoff);
  }

  TDriveFolderIndex index(*FGoogleDrive, target);
  TRunQuota quota(FEnv, *FGoogleDrive, Trim(FAppConfig.GetRootFolderID()),
                  [this](std::int64_t needed, std::string& message) { return CheckDriveQuota(needed, message); });
  TFolderSyncRun run(hooks, index, quota, *FGoogleDrive, std::move(workerDrives), static_cast<int>(files.size()));
  for (size_t i = 0; i < files.size(); ++i) {
    TSyncFile file;
    file.Position = static_cast<int>(i) + 1;
    file.Full = files[i];
    file.Rel = file.Full.substr(prefix.size());
    const std::string relDir = ExtractFileDir(file.Rel);
    file.Name = ExtractFileName(file.Rel);
    file.FolderID = (relDir.empty() || relDir == ".") ? target : index.FolderFor(relDir);
    run.SyncFile(std::move(file), localNames[relDir], FEnv.Now());
  }
  run.WaitForTransfers();

  SourcePath = source;
  Message = run.Summary();
  return true;
}

}  // namespace calvora
