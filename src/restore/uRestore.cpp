// The restore service: the plan list and restore information from Drive,
// a plan's backups, their versions, and the dispatch of one restore.
#include "restore/uRestore.h"

#include "engine/WorkFolderFiles.h"
#include "foundation/AppError.h"
#include "foundation/Format.h"
#include "foundation/JsonText.h"
#include "foundation/PrivateTemp.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "platform/private_folder.h"
#include "restore/RestoreEngine.h"

#include <algorithm>
#include <filesystem>
#include <map>

namespace calvora {
namespace {

bool NewerFirst(TDateTime a, TDateTime b, const std::string& nameA, const std::string& nameB) {
  if (a != b) return a > b;
  return FoldCase(nameA) < FoldCase(nameB);
}

TBackupPlan PlanFromExport(const TJson& item) {
  TBackupPlan plan;
  plan.ID = JsonMemberText(item, "ID");
  plan.Name = JsonMemberText(item, "Name");
  plan.Description = JsonMemberText(item, "Description");
  plan.BackupType = NormalizeBackupType(JsonMemberText(item, "BackupType"));
  plan.DatabaseName = JsonMemberText(item, "DatabaseName");
  plan.SourceFolder = JsonMemberText(item, "SourceFolder");
  plan.TempDirectory = JsonMemberText(item, "TempDirectory");
  plan.DriveSubFolder = JsonMemberText(item, "DriveSubFolder");
  plan.UseCompression = JsonMemberBool(item, "UseCompression");
  plan.UseRarEncryption = JsonMemberBool(item, "UseRarEncryption");
  return plan;
}

// The prefix the backups of that metadata's database start with.
std::string MetadataPrefix(const TRestoreMetadata& metadata) {
  TBackupPlan plan;
  plan.DatabaseName = metadata.DatabaseName;
  return SafeFilePrefix(plan);
}

void RemoveWorkFolder(const std::string& folder) {
  if (folder.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  if (ec) LogWarnFmt("Geri yukleme calisma klasoru silinemedi: %s (%s)", folder, ec.message());
}

}  // namespace

// ---------------------------------------------------------------- records

TRestoreKind TRestorePlan::Kind() const {
  if (IsFolderPlan(Plan)) return TRestoreKind::Folder;
  if (IsFirebirdPlan(Plan)) return TRestoreKind::Firebird;
  return TRestoreKind::SqlServer;
}

const TRestoreMetadata* TRestorePlan::MetadataFor(const std::string& BackupName) const {
  const TRestoreMetadata* best = nullptr;
  size_t bestLength = 0;
  for (const TRestoreMetadata& metadata : Metadata) {
    const std::string prefix = MetadataPrefix(metadata);
    if (StartsText(BackupName, prefix) && prefix.size() > bestLength) {
      best = &metadata;
      bestLength = prefix.size();
    }
  }
  if (!best && Metadata.size() == 1) best = &Metadata.front();
  return best;
}

bool TRestorePlan::ArchiveEncrypted() const {
  if (Plan.UseRarEncryption) return true;
  return std::any_of(Metadata.begin(), Metadata.end(), [](const TRestoreMetadata& m) { return m.RarEncrypted; });
}

TRestoreRequest TRestoreRequest::For(const TRestorePlan& Plan, const TRestoreBackup& Backup,
                                     const TRestoreVersion& Version) {
  TRestoreRequest request;
  request.Plan = Plan;
  request.Backup = Backup;
  request.RevisionID = Version.Current ? std::string() : Version.RevisionID;
  return request;
}

std::string RestoreBackupGroupName(const std::string& FileName) {
  const std::string lower = LowerAscii(FileName);
  const size_t pos = lower.rfind(".part");
  if (pos == std::string::npos || !EndsText(lower, ".rar")) return FileName;
  const std::string digits = lower.substr(pos + 5, lower.size() - 4 - pos - 5);
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return FileName;
  return FileName.substr(0, pos) + ".part*.rar";
}

std::vector<TVolumeVersion> MatchVolumeVersions(const std::vector<TDriveFileInfo>& Volumes,
                                                const std::vector<std::vector<TDriveRevisionInfo>>& Revisions,
                                                const std::string& FirstRevisionID) {
  std::vector<TVolumeVersion> out;
  if (Volumes.empty()) return out;
  // The chosen version of the first volume and the moment its next one came.
  TDateTime from = Volumes.front().ModifiedTime;
  TDateTime until = 0;  // 0: no later version
  TVolumeVersion first{Volumes.front(), FirstRevisionID, Volumes.front().MD5};
  const auto& firstRevisions = Revisions.empty() ? std::vector<TDriveRevisionInfo>() : Revisions.front();
  if (!FirstRevisionID.empty()) {
    for (size_t i = 0; i < firstRevisions.size(); ++i) {
      if (firstRevisions[i].RevisionID != FirstRevisionID) continue;
      from = firstRevisions[i].ModifiedTime;
      first.MD5 = firstRevisions[i].MD5;
      if (i + 1 < firstRevisions.size()) until = firstRevisions[i + 1].ModifiedTime;
    }
  } else if (!firstRevisions.empty()) {
    from = firstRevisions.back().ModifiedTime;
  }
  out.push_back(first);
  for (size_t v = 1; v < Volumes.size(); ++v) {
    const auto& revisions = v < Revisions.size() ? Revisions[v] : std::vector<TDriveRevisionInfo>();
    if (revisions.empty()) {
      // No history known: the current content, when it is not older.
      if (!FirstRevisionID.empty() || Volumes[v].ModifiedTime < from) break;
      out.push_back({Volumes[v], std::string(), Volumes[v].MD5});
      continue;
    }
    const TDriveRevisionInfo* match = nullptr;
    for (const TDriveRevisionInfo& revision : revisions) {
      if (revision.ModifiedTime < from || (until != 0 && revision.ModifiedTime >= until)) continue;
      if (!match || revision.ModifiedTime < match->ModifiedTime) match = &revision;
    }
    if (!match) break;
    out.push_back({Volumes[v], match->RevisionID, match->MD5});
  }
  return out;
}

// ---------------------------------------------------------------- engine

TRestoreEngine::TRestoreEngine(TEnv& Env) : TCloudBackupService(Env.Config().GetMSSQLBackupConfig(), Env) {}

void TRestoreEngine::Report(const std::string& Stage, const std::string& Text, std::int64_t Done,
                            std::int64_t Total) {
  if (!FOnProgress) return;
  try {
    FOnProgress(TRestoreProgress{Stage, Text, Done, Total});
  } catch (const std::exception& e) {
    LogException("Geri yukleme ilerleme bildirimi hatasi", e);
  }
}

void TRestoreEngine::CheckCancelled() const {
  if (FCancelled) throw ERestoreCancelled();
}

bool TRestoreEngine::LoadPlans(std::vector<TRestorePlan>& Plans, std::string& Message) {
  Plans.clear();
  Message.clear();
  try {
    LogInfo("Geri yukleme: plan listesi ve yedek bilgileri Drive'dan aliniyor.");
    std::string downloadMessage;
    if (!DownloadAccountRestoreData(downloadMessage)) {
      Message = downloadMessage;
      return false;
    }
    const std::string folder = JoinPath(FEnv.DataDir(), kRestoreMetaFolderName);
    std::vector<TRestoreMetadata> metadata;
    for (const std::string& path : FilesMatching(folder, "*" + std::string(kRestoreInfoSuffix))) {
      TRestoreMetadata record;
      if (RestoreMetadataFromJson(ReadTextFile(path), record)) metadata.push_back(std::move(record));
    }
    TJson list;
    const std::string plansPath = JoinPath(folder, kPlansExportFileName);
    if (FileExists(plansPath) && TryParseJson(ReadTextFile(plansPath), list) && list.is_array()) {
      for (const TJson& item : list) {
        if (!item.is_object()) continue;
        TRestorePlan plan{PlanFromExport(item), {}};
        if (IsBlank(plan.Plan.ID)) continue;
        Plans.push_back(std::move(plan));
      }
    }
    // Restore information of a plan the list does not name still restores.
    for (TRestoreMetadata& record : metadata) {
      auto owner = std::find_if(Plans.begin(), Plans.end(),
                                [&](const TRestorePlan& p) { return SameText(p.Plan.ID, record.PlanID); });
      if (owner == Plans.end()) {
        TRestorePlan plan;
        plan.Plan.ID = record.PlanID;
        plan.Plan.Name = record.PlanName;
        plan.Plan.BackupType = NormalizeBackupType(record.BackupType);
        plan.Plan.DatabaseName = record.DatabaseName;
        plan.Plan.SourceFolder = record.SourceFolder;
        plan.Plan.DriveSubFolder = record.DriveSubFolder;
        Plans.push_back(std::move(plan));
        owner = Plans.end() - 1;
      }
      owner->Metadata.push_back(std::move(record));
    }
    Message = Fmt("%d plan bulundu. %s", Plans.size(), downloadMessage);
    LogInfoFmt("Geri yukleme: %d plan, %d yedek bilgisi okundu.", Plans.size(), metadata.size());
    return true;
  } catch (const std::exception& e) {
    Message = e.what();
    LogException("Geri yukleme plan listesi hatasi", e);
    return false;
  }
}

std::vector<TRestoreBackup> TRestoreEngine::CollectBackups(const TRestorePlan& Plan) {
  std::vector<TDriveFileInfo> files;
  std::string listMessage;
  if (!ListPlanDriveBackups(Plan.Plan, files, listMessage)) throw EAppError(listMessage);
  std::vector<TRestoreBackup> backups;
  if (Plan.Kind() == TRestoreKind::Folder) {
    for (const TDriveFileInfo& file : files) {
      TRestoreBackup backup;
      backup.Name = file.Name;
      backup.RelativePath = file.RelativePath;
      for (const std::string& part : Split(file.RelativePath, '\\')) backup.PathParts.push_back(SafeLocalFileName(part));
      backup.Files = {file};
      backup.Size = file.Size;
      backup.ModifiedTime = file.ModifiedTime;
      backups.push_back(std::move(backup));
    }
    return backups;
  }
  std::map<std::string, size_t> groups;
  for (const TDriveFileInfo& file : files) {
    const std::string group = RestoreBackupGroupName(file.Name);
    auto found = groups.find(LowerAscii(group));
    if (found == groups.end()) {
      groups[LowerAscii(group)] = backups.size();
      backups.push_back(TRestoreBackup{group, group, {}, {}, 0, 0});
      found = groups.find(LowerAscii(group));
    }
    TRestoreBackup& backup = backups[found->second];
    backup.Files.push_back(file);
    backup.Size = AddByteCounts(backup.Size, file.Size);
    backup.ModifiedTime = std::max(backup.ModifiedTime, file.ModifiedTime);
  }
  for (TRestoreBackup& backup : backups)
    std::stable_sort(backup.Files.begin(), backup.Files.end(), [](const TDriveFileInfo& a, const TDriveFileInfo& b) {
      return RarVolumeNumber(a.Name) < RarVolumeNumber(b.Name);
    });
  std::stable_sort(backups.begin(), backups.end(), [](const TRestoreBackup& a, const TRestoreBackup& b) {
    return NewerFirst(a.ModifiedTime, b.ModifiedTime, a.Name, b.Name);
  });
  return backups;
}

bool TRestoreEngine::ListBackups(const TRestorePlan& Plan, std::vector<TRestoreBackup>& Backups,
                                 std::string& Message) {
  Backups.clear();
  Message.clear();
  try {
    Backups = CollectBackups(Plan);
    Message = Backups.empty() ? "Bu plan icin Drive tarafinda yedek dosyasi bulunamadi."
                              : Fmt("%d yedek bulundu.", Backups.size());
    LogInfoFmt("Geri yukleme: %s plani icin %d yedek listelendi.", Plan.Plan.Name, Backups.size());
    return true;
  } catch (const std::exception& e) {
    Message = e.what();
    LogException("Geri yukleme yedek listeleme hatasi", e);
    return false;
  }
}

std::vector<TRestoreVersion> TRestoreEngine::Versions(const TRestoreBackup& Backup) {
  if (Backup.Files.empty()) throw EAppError("Yedek dosyasi secilmedi.");
  const TDriveFileInfo& first = Backup.Files.front();
  EnsureGoogleToken();
  std::vector<TDriveRevisionInfo> revisions = FGoogleDrive->ListFileRevisions(first.FileID);
  std::vector<TRestoreVersion> versions;
  // Drive lists the revisions oldest first; the last is the current content.
  for (size_t i = 0; i < revisions.size(); ++i) {
    const TDriveRevisionInfo& r = revisions[i];
    versions.push_back(TRestoreVersion{r.RevisionID, r.ModifiedTime, r.Size, r.MD5, i + 1 == revisions.size()});
  }
  if (versions.empty())
    versions.push_back(TRestoreVersion{std::string(), first.ModifiedTime, first.Size, first.MD5, true});
  std::stable_sort(versions.begin(), versions.end(), [](const TRestoreVersion& a, const TRestoreVersion& b) {
    if (a.Current != b.Current) return a.Current;
    return a.ModifiedTime > b.ModifiedTime;
  });
  return versions;
}

bool TRestoreEngine::ListVersions(const TRestoreBackup& Backup, std::vector<TRestoreVersion>& Versions_,
                                  std::string& Message) {
  Versions_.clear();
  Message.clear();
  try {
    Versions_ = Versions(Backup);
    Message = Fmt("%d surum bulundu.", Versions_.size());
    return true;
  } catch (const std::exception& e) {
    Message = e.what();
    LogException("Geri yukleme surum listeleme hatasi", e);
    return false;
  }
}

TRestoreResult TRestoreEngine::Restore(const TRestoreRequest& Request) {
  TRestoreResult result;
  FCancelled = false;
  std::string work;
  try {
    if (Request.SqlServer) FConfig = *Request.SqlServer;
    if (Request.Firebird) FFirebirdConfig = *Request.Firebird;
    std::string error;
    work = platform::MakeUniquePrivateFolder(JoinPath(PrivateTempFolder(FEnv, {"CalvoraRestore"}), "r-"), error);
    if (work.empty()) throw EFileError("Geri yukleme calisma klasoru olusturulamadi: " + error);
    LogInfoFmt("Geri yukleme basladi: plan %s, yedek %s, surum %s", Request.Plan.Plan.Name,
               Request.Backup.Name.empty() ? "(tumu)" : Request.Backup.Name,
               Request.RevisionID.empty() ? "guncel" : Request.RevisionID);
    switch (Request.Plan.Kind()) {
      case TRestoreKind::Firebird: result = RestoreFirebird(Request, work); break;
      case TRestoreKind::SqlServer: result = RestoreSqlServer(Request, work); break;
      case TRestoreKind::Folder: result = RestoreFolder(Request, work); break;
    }
  } catch (const std::exception& e) {
    result.Success = false;
    result.Message = e.what();
    result.Restored.clear();
  }
  RemoveWorkFolder(work);
  if (result.Success) {
    LogInfoFmt("Geri yukleme tamamlandi: %s", result.Message);
  } else {
    LogErrorFmt("Geri yukleme basarisiz: %s", result.Message);
  }
  Report(result.Success ? "Tamamlandi" : "Hata", result.Message);
  return result;
}

// ---------------------------------------------------------------- service

TRestoreService::TRestoreService(TEnv& Env) : FEngine(std::make_unique<TRestoreEngine>(Env)) {}
TRestoreService::~TRestoreService() = default;

bool TRestoreService::LoadPlans(std::vector<TRestorePlan>& Plans, std::string& Message) {
  return FEngine->LoadPlans(Plans, Message);
}
bool TRestoreService::ListBackups(const TRestorePlan& Plan, std::vector<TRestoreBackup>& Backups,
                                  std::string& Message) {
  return FEngine->ListBackups(Plan, Backups, Message);
}
bool TRestoreService::ListVersions(const TRestoreBackup& Backup, std::vector<TRestoreVersion>& Versions,
                                   std::string& Message) {
  return FEngine->ListVersions(Backup, Versions, Message);
}
TRestoreResult TRestoreService::Restore(const TRestoreRequest& Request) { return FEngine->Restore(Request); }
void TRestoreService::SetOnProgress(TRestoreProgressEvent Event) { FEngine->SetOnProgress(std::move(Event)); }
void TRestoreService::Cancel() { FEngine->Cancel(); }

}  // namespace calvora
