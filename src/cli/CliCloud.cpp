// files, download, revisions, download-revision, pin, unpin: a plan's
// backups on Drive and their revisions, through the engine's browsing and
// download operations. Downloads land directly in the folder given with
// --to under a plain file name, and never over a file that is there.
#include "cli/CliCommands.h"
#include "cli/CliProgress.h"
#include "engine/uCloudBackup.h"
#include "foundation/DateTime.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"

#include <algorithm>
#include <filesystem>

namespace calvora::cli {
namespace {

TCloudBackupService MakeEngine(TEnv& Env) { return TCloudBackupService(Env.Config().GetMSSQLBackupConfig(), Env); }

std::string FileCaption(const TDriveFileInfo& File) { return IsBlank(File.RelativePath) ? File.Name : File.RelativePath; }

std::vector<TDriveFileInfo> ListFiles(TCloudBackupService& Engine, const TBackupPlan& Plan, std::string& Message) {
  std::vector<TDriveFileInfo> files;
  if (!Engine.ListPlanDriveBackups(Plan, files, Message)) throw ECliError(Message);
  return files;
}

// By Drive ID, by the listed path or by the name when only one file has it.
TDriveFileInfo FindFile(const std::vector<TDriveFileInfo>& Files, const std::string& Reference) {
  const std::string wanted = ReplaceAll(Trim(Reference), "/", "\\");
  for (const TDriveFileInfo& file : Files)
    if (file.FileID == Trim(Reference) || SameText(FileCaption(file), wanted)) return file;
  std::vector<const TDriveFileInfo*> named;
  for (const TDriveFileInfo& file : Files)
    if (SameText(file.Name, wanted)) named.push_back(&file);
  if (named.size() == 1) return *named.front();
  if (named.size() > 1) throw ECliError("Bu adi tasiyan birden cok dosya var, dosya ID'sini kullanin: " + Reference);
  throw ECliError("Drive dosyasi bulunamadi: " + Reference);
}

std::vector<TDriveRevisionInfo> ListRevisions(TCloudBackupService& Engine, const TDriveFileInfo& File,
                                              std::string& Message) {
  std::vector<TDriveRevisionInfo> revisions;
  if (!Engine.ListDriveFileRevisions(File.FileID, revisions, Message)) throw ECliError(Message);
  // Newest first, equal times in the order Drive gave them.
  std::stable_sort(revisions.begin(), revisions.end(),
                   [](const TDriveRevisionInfo& a, const TDriveRevisionInfo& b) { return a.ModifiedTime > b.ModifiedTime; });
  return revisions;
}

// By revision ID or by the "#" number of the listing (the newest is the highest).
size_t FindRevision(const std::vector<TDriveRevisionInfo>& Revisions, const std::string& Reference) {
  const std::string wanted = Trim(Reference);
  for (size_t i = 0; i < Revisions.size(); ++i)
    if (Revisions[i].RevisionID == wanted) return i;
  int number = 0;
  const std::string digits = StartsWith(wanted, "#") ? wanted.substr(1) : wanted;
  if (TryParseInt(digits, number) && number >= 1 && static_cast<size_t>(number) <= Revisions.size())
    return Revisions.size() - static_cast<size_t>(number);
  throw ECliError("Surum bulunamadi: " + Reference);
}

bool PathTaken(const std::string& Path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(Path, ec));
}

// A free name in Folder for Name: neither the file nor its ".part" (which
// the download writes first and would replace) exists; "name_1.ext",
// "name_2.ext" ... otherwise.
std::string FreeTargetPath(const std::string& Folder, const std::string& Name) {
  const std::string safe = TCloudBackupService::SafeLocalFileName(Name);
  const std::string ext = ExtractFileExt(safe);
  const std::string stem = safe.substr(0, safe.size() - ext.size());
  for (int n = 0;; ++n) {
    const std::string path = JoinPath(Folder, n == 0 ? safe : Fmt("%s_%d%s", stem, n, ext));
    if (!PathTaken(path) && !PathTaken(path + ".part")) return path;
  }
}

std::string PrepareTargetFolder(const TCliArgs& Args) {
  const std::string folder = ExcludeTrailingSeparator(Trim(Args.Value("to")));
  if (folder.empty()) throw EUsageError("Indirme klasoru secilmedi. (--to KLASOR)");
  if (!ForceDirectories(folder) || !DirectoryExists(folder)) throw ECliError("Klasor olusturulamadi: " + folder);
  return folder;
}

// "dd.MM.yyyy hh:nn" (files) or with seconds (revisions); "-" when unset.
std::string ModifiedText(TDateTime Value, bool WithSeconds) {
  if (Value <= 0) return "-";
  const TDateTimeParts p = DecodeDateTime(Value);
  return WithSeconds ? Fmt("%02d.%02d.%04d %02d:%02d:%02d", p.day, p.month, p.year, p.hour, p.minute, p.second)
                     : Fmt("%02d.%02d.%04d %02d:%02d", p.day, p.month, p.year, p.hour, p.minute);
}

// "BAK" for db.bak, "RAR" for archive.part1.rar.
std::string FileTypeText(const std::string& Name) {
  const std::string ext = ExtractFileExt(Name);
  return ext.empty() ? std::string() : UpperAscii(ext.substr(1));
}

TJson FileJson(const TDriveFileInfo& File) {
  return TJson{{"ID", File.FileID}, {"Name", File.Name}, {"Path", FileCaption(File)}, {"Size", File.Size},
               {"ModifiedTime", File.ModifiedTime > 0 ? FormatPlanDateTime(File.ModifiedTime) : ""},
               {"MD5", File.MD5}};
}

TJson RevisionJson(const TDriveRevisionInfo& Revision, size_t Number) {
  return TJson{{"Number", Number}, {"ID", Revision.RevisionID}, {"Size", Revision.Size},
               {"ModifiedTime", Revision.ModifiedTime > 0 ? FormatPlanDateTime(Revision.ModifiedTime) : ""},
               {"KeepForever", Revision.KeepForever}, {"MD5", Revision.MD5}};
}

// "base_rev_yyyymmdd_hhnnss.ext", or the revision's number without a time.
std::string RevisionFileName(const TDriveFileInfo& File, const TDriveRevisionInfo& Revision, size_t Number) {
  const std::string name = TCloudBackupService::SafeLocalFileName(File.Name);
  const std::string ext = ExtractFileExt(name);
  std::string stamp = std::to_string(Number);
  if (Revision.ModifiedTime > 0) {
    const TDateTimeParts p = DecodeDateTime(Revision.ModifiedTime);
    stamp = Fmt("%04d%02d%02d_%02d%02d%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
  }
  return Fmt("%s_%s%s", name.substr(0, name.size() - ext.size()), "rev_" + stamp, ext);
}

}  // namespace

int FilesCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {});
  RequirePositional(args, 1, 1, "files PLAN");
  TEnv& env = Context.Env();
  const TBackupPlan plan = FindPlan(env, args.Positional()[0]);
  TCloudBackupService engine = MakeEngine(env);
  std::string message;
  const std::vector<TDriveFileInfo> files = ListFiles(engine, plan, message);
  if (message.empty()) message = Fmt("%d dosya bulundu.", static_cast<int>(files.size()));
  if (Context.Json) {
    TJson list = TJson::array();
    for (const TDriveFileInfo& file : files) list.push_back(FileJson(file));
    PrintJson(Context, TJson{{"Files", list}, {"Message", message}});
    return kExitSuccess;
  }
  if (!files.empty()) {
    std::vector<std::vector<std::string>> rows;
    for (const TDriveFileInfo& file : files)
      rows.push_back({FileCaption(file), CloudSizeText(file.Size), ModifiedText(file.ModifiedTime, false),
                      FileTypeText(file.Name), file.FileID});
    PrintTable(Context, {"Dosya", "Boyut", "Degistirilme", "Tip", "ID"}, rows);
  }
  PrintLine(Context, message);
  return kExitSuccess;
}

int DownloadCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {{"to", TOptionKind::Value}, {"all", TOptionKind::Flag}});
  RequirePositional(args, 1, 1000, "download PLAN [DOSYA...|--all] --to KLASOR");
  const bool all = args.Has("all");
  if (all == (args.Positional().size() > 1))
    throw EUsageError("Indirilecek dosyalari adlariyla ya da --all ile verin (ikisi birden degil).");
  TEnv& env = Context.Env();
  const TBackupPlan plan = FindPlan(env, args.Positional()[0]);
  const std::string folder = PrepareTargetFolder(args);
  TCloudBackupService engine = MakeEngine(env);
  std::string listMessage;
  const std::vector<TDriveFileInfo> listed = ListFiles(engine, plan, listMessage);
  std::vector<TDriveFileInfo> chosen;
  if (all) {
    chosen = listed;
    if (chosen.empty()) throw ECliError("Indirilecek dosya bulunamadi.");
  } else {
    for (size_t i = 1; i < args.Positional().size(); ++i) chosen.push_back(FindFile(listed, args.Positional()[i]));
  }

  TProgressDisplay display(Context);
  engine.SetOnDownloadProgress([&](std::int64_t Done, std::int64_t Total) { display.Transfer(Done, Total); });
  int succeeded = 0, failed = 0;
  std::string lastError;
  TJson results = TJson::array();
  for (size_t k = 0; k < chosen.size(); ++k) {
    const TDriveFileInfo& file = chosen[k];
    const std::string target = FreeTargetPath(folder, file.Name);
    display.Stage(Fmt("Indiriliyor (%d/%d): %s", static_cast<int>(k + 1), static_cast<int>(chosen.size()), file.Name),
                  "");
    display.Transfer(0, file.Size);
    std::string message;
    const bool ok = engine.DownloadDriveBackupFile(file, target, message);
    display.Finish();
    ok ? ++succeeded : ++failed;
    if (!ok) lastError = message;
    results.push_back(TJson{{"ID", file.FileID}, {"Name", file.Name}, {"Path", ok ? target : ""}, {"Success", ok},
                            {"Message", message}});
    if (!Context.Json) (ok ? Context.Console.Out(message + "\n") : Context.Console.Err(message + "\n"));
  }
  const std::string summary = failed > 0 ? Fmt("%d dosya indirildi, %d dosya basarisiz.", succeeded, failed)
                                         : Fmt("%d dosya basariyla indirildi.", succeeded);
  if (Context.Json) {
    PrintJson(Context, TJson{{"Folder", folder}, {"Files", results}, {"Message", summary}});
    return failed > 0 ? kExitFailure : kExitSuccess;
  }
  if (failed > 0) throw ECliError(lastError.empty() ? summary : summary + " " + lastError);
  PrintLine(Context, summary);
  return kExitSuccess;
}

int RevisionsCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {});
  RequirePositional(args, 2, 2, "revisions PLAN DOSYA");
  TEnv& env = Context.Env();
  const TBackupPlan plan = FindPlan(env, args.Positional()[0]);
  TCloudBackupService engine = MakeEngine(env);
  std::string message;
  const TDriveFileInfo file = FindFile(ListFiles(engine, plan, message), args.Positional()[1]);
  const std::vector<TDriveRevisionInfo> revisions = ListRevisions(engine, file, message);
  if (message.empty()) message = Fmt("%d surum bulundu. En yenisi en uste yerlestirildi.", static_cast<int>(revisions.size()));
  if (Context.Json) {
    TJson list = TJson::array();
    for (size_t i = 0; i < revisions.size(); ++i) list.push_back(RevisionJson(revisions[i], revisions.size() - i));
    PrintJson(Context, TJson{{"File", FileJson(file)}, {"Revisions", list}, {"Message", message}});
    return kExitSuccess;
  }
  if (!revisions.empty()) {
    std::vector<std::vector<std::string>> rows;
    for (size_t i = 0; i < revisions.size(); ++i)
      rows.push_back({std::to_string(revisions.size() - i), ModifiedText(revisions[i].ModifiedTime, true),
                      CloudSizeText(revisions[i].Size), revisions[i].RevisionID,
                      revisions[i].KeepForever ? "Evet" : "Hayir"});
    PrintTable(Context, {"#", "Tarih", "Boyut", "Surum Kimligi", "Saklanan"}, rows);
  }
  PrintLine(Context, message);
  return kExitSuccess;
}

int DownloadRevisionCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {{"to", TOptionKind::Value}});
  RequirePositional(args, 3, 3, "download-revision PLAN DOSYA SURUM --to KLASOR");
  TEnv& env = Context.Env();
  const TBackupPlan plan = FindPlan(env, args.Positional()[0]);
  const std::string folder = PrepareTargetFolder(args);
  TCloudBackupService engine = MakeEngine(env);
  std::string message;
  const TDriveFileInfo file = FindFile(ListFiles(engine, plan, message), args.Positional()[1]);
  const std::vector<TDriveRevisionInfo> revisions = ListRevisions(engine, file, message);
  const size_t index = FindRevision(revisions, args.Positional()[2]);
  const TDriveRevisionInfo& revision = revisions[index];
  const std::string target = FreeTargetPath(folder, RevisionFileName(file, revision, revisions.size() - index));

  TProgressDisplay display(Context);
  engine.SetOnDownloadProgress([&](std::int64_t Done, std::int64_t Total) { display.Transfer(Done, Total); });
  display.Stage("Surum indiriliyor...", "");
  display.Transfer(0, revision.Size);
  const bool ok = engine.DownloadDriveFileRevision(file.FileID, revision.RevisionID, target, message);
  display.Finish();
  if (!ok) throw ECliError(message);
  if (Context.Json)
    PrintJson(Context, TJson{{"Path", target}, {"Revision", RevisionJson(revision, revisions.size() - index)},
                             {"Message", message}});
  else
    PrintLine(Context, message);
  return kExitSuccess;
}

namespace {

int SetKeepForever(TCliContext& Context, const TWords& Words, bool Keep) {
  const TCliArgs args = ParseCommand(Context, Words, {});
  RequirePositional(args, 3, 3, std::string(Keep ? "pin" : "unpin") + " PLAN DOSYA SURUM");
  TEnv& env = Context.Env();
  const TBackupPlan plan = FindPlan(env, args.Positional()[0]);
  TCloudBackupService engine = MakeEngine(env);
  std::string message;
  const TDriveFileInfo file = FindFile(ListFiles(engine, plan, message), args.Positional()[1]);
  const std::vector<TDriveRevisionInfo> revisions = ListRevisions(engine, file, message);
  const TDriveRevisionInfo& revision = revisions[FindRevision(revisions, args.Positional()[2])];
  if (!engine.GoogleDrive().SetRevisionKeepForever(file.FileID, revision.RevisionID, Keep))
    throw ECliError("Surumun saklama isareti degistirilemedi.");
  message = Keep ? "Surum kalici olarak saklanacak: " + revision.RevisionID
                 : "Surumun kalici saklama isareti kaldirildi: " + revision.RevisionID;
  if (Context.Json)
    PrintJson(Context, TJson{{"File", file.FileID}, {"Revision", revision.RevisionID}, {"KeepForever", Keep},
                             {"Message", message}});
  else
    PrintLine(Context, message);
  return kExitSuccess;
}

}  // namespace

int PinCommand(TCliContext& Context, const TWords& Words) { return SetKeepForever(Context, Words, true); }
int UnpinCommand(TCliContext& Context, const TWords& Words) { return SetKeepForever(Context, Words, false); }

}  // namespace calvora::cli
