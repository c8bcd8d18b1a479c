// calvoractl restore: the restore tool's operations on the command line.
#include "cli/CliCommands.h"
#include "cli/CliProgress.h"
#include "foundation/TextUtil.h"
#include "platform/stop_request.h"
#include "restore/uRestore.h"

#include <atomic>
#include <thread>

namespace calvora::cli {
namespace {

std::string Slashes(const std::string& Text) { return ReplaceAll(Text, "\\", "/"); }

TRestorePlan FindRestorePlan(const std::vector<TRestorePlan>& Plans, const std::string& Reference) {
  std::vector<TBackupPlan> plans;
  for (const TRestorePlan& p : Plans) plans.push_back(p.Plan);
  const TBackupPlan found = FindPlan(plans, Reference);
  for (const TRestorePlan& p : Plans)
    if (p.Plan.ID == found.ID) return p;
  throw ECliError("Plan bulunamadı: " + Reference);
}

// A database plan's backup by name (the newest without one); a folder
// plan's file by its path in the tree or its name.
TRestoreBackup FindBackup(const std::vector<TRestoreBackup>& Backups, const std::string& Name) {
  if (Backups.empty()) throw ECliError("Bu planin Drive'da yedegi yok.");
  if (Name.empty()) return Backups.front();
  for (const TRestoreBackup& b : Backups)
    if (SameText(Slashes(b.RelativePath), Slashes(Name)) || SameText(b.Name, Name)) return b;
  throw ECliError("Yedek dosyasi bulunamadi: " + Name);
}

TRestoreVersion FindVersion(const std::vector<TRestoreVersion>& Versions, const std::string& RevisionID) {
  for (const TRestoreVersion& v : Versions)
    if (RevisionID.empty() ? v.Current : v.RevisionID == RevisionID) return v;
  throw ECliError("Surum bulunamadi: " + RevisionID);
}

TRestoreRequest BuildRequest(TRestoreService& Restore, const TRestorePlan& Plan, const TCliArgs& Args) {
  std::string message;
  const std::string file = Args.Value("file");
  const bool folderPlan = Plan.Kind() == TRestoreKind::Folder;
  TRestoreRequest request;
  request.Plan = Plan;
  if (!folderPlan || !file.empty()) {
    std::vector<TRestoreBackup> backups;
    if (!Restore.ListBackups(Plan, backups, message)) throw ECliError(message);
    const TRestoreBackup backup = FindBackup(backups, file);
    std::vector<TRestoreVersion> versions;
    if (!Restore.ListVersions(backup, versions, message)) throw ECliError(message);
    request = TRestoreRequest::For(Plan, backup, FindVersion(versions, Args.Value("revision")));
  } else if (Args.Has("revision")) {
    throw EUsageError("--revision tek bir dosya icindir (--file ile).");
  }
  request.SubFolder = Args.Value("folder");
  request.TargetPath = Args.Value("to");
  request.DatabaseName = Args.Value("database");
  request.DataFolder = Args.Value("data-folder");
  request.LogFolder = Args.Value("log-folder");
  request.ReplaceExisting = Args.Has("replace");
  if (Plan.Kind() != TRestoreKind::SqlServer && request.TargetPath.empty())
    throw EUsageError("--to zorunlu: geri yukleme hedefi.");
  return request;
}

// The archive password: asked for when the restore information says the
// archive is encrypted and this machine does not hold the plan's own.
void AskArchivePassword(TCliContext& Context, const TCliArgs& Args, TRestoreRequest& Request) {
  if (!Request.Plan.ArchiveEncrypted() && !Args.Has("password-stdin")) return;
  if (!Args.Has("password-stdin")) {
    for (const TBackupPlan& local : TBackupPlanStore(Context.Env()).LoadPlans())
      if (local.ID == Request.Plan.Plan.ID && !local.RarPassword.empty()) return;
  }
  Request.ArchivePassword = ReadSecret(Context, Args, "password-stdin", "Arsiv sifresi: ");
}

TRestoreResult RunWithProgress(TCliContext& Context, TRestoreService& Restore, const TRestoreRequest& Request) {
  TProgressDisplay display(Context);
  std::string stage;
  Restore.SetOnProgress([&](const TRestoreProgress& p) {
    if (platform::StopRequested()) Restore.Cancel();
    if (p.Stage != stage) {
      stage = p.Stage;
      display.Stage(p.Stage, p.Text);
    }
    if (p.Total > 0) display.Transfer(p.Done, p.Total);
  });
  TRestoreResult result;
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    result = Restore.Restore(Request);
    finished = true;
  });
  while (!finished) {
    if (platform::WaitForStopRequest(250)) Restore.Cancel();
    display.Tick();
  }
  worker.join();
  display.Finish();
  return result;
}

}  // namespace

int RestoreCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words,
                                     {{"file", TOptionKind::Value}, {"revision", TOptionKind::Value},
                                      {"folder", TOptionKind::Value}, {"to", TOptionKind::Value},
                                      {"database", TOptionKind::Value}, {"data-folder", TOptionKind::Value},
                                      {"log-folder", TOptionKind::Value}, {"replace", TOptionKind::Flag},
                                      {"password-stdin", TOptionKind::Flag}});
  RequirePositional(args, 1, 1, "restore PLAN [--file AD] [--revision ID] --to YOL [--database AD]");
  TRestoreService restore(Context.Env());
  std::vector<TRestorePlan> plans;
  std::string message;
  if (!restore.LoadPlans(plans, message)) throw ECliError(message);
  TRestoreRequest request = BuildRequest(restore, FindRestorePlan(plans, args.Positional()[0]), args);
  AskArchivePassword(Context, args, request);

  platform::ResetStopRequest();
  platform::InstallStopSignalHandlers();
  const TRestoreResult result = RunWithProgress(Context, restore, request);
  const bool stopped = platform::StopRequested();
  if (Context.Json) {
    TJson conflicts = TJson::array(), restored = TJson::array();
    for (const std::string& c : result.Conflicts) conflicts.push_back(c);
    for (const std::string& r : result.Restored) restored.push_back(r);
    PrintJson(Context, TJson{{"Success", result.Success}, {"Message", result.Message},
                             {"Restored", restored}, {"Conflicts", conflicts}});
  } else if (result.Success) {
    PrintLine(Context, result.Message);
  }
  if (result.Success) return kExitSuccess;
  if (!Context.Json) {
    std::string line = result.Message;
    if (!result.Conflicts.empty()) line += " (--replace ile uzerine yazilir)";
    Context.Console.Err(std::string(kProgramName) + ": " + line + "\n");
  }
  return stopped ? kExitInterrupted : kExitFailure;
}

}  // namespace calvora::cli
