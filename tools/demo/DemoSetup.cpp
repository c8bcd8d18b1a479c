// calvora-demo: the helper of scripts/demo.
//
//   calvora-demo seed-cloud <cloudDir> <smtpPort>
//       Before the emulator starts: the OAuth client, the service login, the
//       account "Demo Ltd" with its backup policy, a central Google account
//       (fresh tokens) linked to it, and the mail server definition.
//   calvora-demo prepare <appDir> <emulatorUrl> <sourceDir>
//       The program folder's deployment file, the saved sign-in and the
//       folder plan (made due now).
//   calvora-demo prepare-firebird <appDir> <host> <port> <user> <dbPath> <workDir>
//       The Firebird settings (password from $FIREBIRD_DEMO_PASSWORD) and a
//       Firebird plan over that database (made due now).
//   calvora-demo prepare-sql <appDir>
//       A SQL Server plan that is never run here (the screenshots show it
//       beside the plans that ran).
//   calvora-demo restore <appDir> <destDir> <fileName>
//       Restores from Drive into <destDir> what the run backed up: the
//       Firebird plan's current backup as <destDir>/STOK_RESTORED.FDB (when
//       there is a Firebird plan) and the file <fileName> of the folder plan.
//   calvora-demo report <appDir> <cloudDir> <mailDir> <mailsBefore>
//       Each plan's outcome and activity record, the Drive tree in the
//       emulator and the report mails numbered above <mailsBefore>.
#include "AccountDirectoryState.h"
#include "GoogleState.h"
#include "account/uFirebaseActiveAccount.h"
#include "foundation/AppError.h"
#include "foundation/DateTime.h"
#include "foundation/Env.h"
#include "foundation/Format.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "plans/uBackupPlans.h"
#include "plans/uPlanActivityStore.h"
#include "restore/uRestore.h"
#include "platform/process.h"

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace calvora;
namespace fs = std::filesystem;

constexpr const char kClientID[] = "123456789012-calvorademo.apps.googleusercontent.com";
constexpr const char kClientSecret[] = "GOCSPX-calvora-demo";
constexpr const char kServiceEmail[] = "servis@demo.calvora.test";
constexpr const char kServicePassword[] = "Demo-Servis-2024";
constexpr const char kPlanID[] = "{D3E40000-0000-4000-8000-00000000DE30}";
constexpr const char kFirebirdPlanID[] = "{D3E40000-0000-4000-8000-00000000FB30}";
constexpr const char kSqlPlanID[] = "{D3E40000-0000-4000-8000-000000005030}";

// The program folder's own environment (data directory "<appDir>/config").
struct TAppEnv {
  explicit TAppEnv(const std::string& appDir) {
    TConfigLocations locations;
    locations.ExecutableDir = appDir;
    locations.ProgramData = appDir + "/programdata";
    locations.AppData = appDir + "/appdata";
    locations.Deployment = LoadDeploymentSettings(appDir + "/deployment.ini");
    config = std::make_unique<TAppConfig>(locations);
    env = std::make_unique<TEnv>(*config, locations.Deployment, SystemClock(), platform::SystemProcessRunner(),
                                 appDir, appDir + "/tmp");
  }
  std::unique_ptr<TAppConfig> config;
  std::unique_ptr<TEnv> env;
};

int SeedCloud(const std::string& cloudDir, int smtpPort) {
  fs::create_directories(cloudDir);
  devcloud::GoogleState google(cloudDir);
  google.RegisterClient(kClientID, kClientSecret);
  const auto tokens = google.MintTokens(kClientID, 3600);
  google.Flush();

  devcloud::AccountDirectoryState directory(cloudDir);
  directory.AddUser(kServiceEmail, kServicePassword);
  using J = devcloud::DatabaseJson;
  directory.Write("Lisanslar/demo", J{{"LoginName", "demo"},
                                      {"Email", "demo@firma.test"},
                                      {"Sifre", "demo-parola"},
                                      {"Musteri", "Demo Ltd"},
                                      {"KotaMB", 500},
                                      {"YedeklemePolitikaId", "ofis"}});
  directory.Write("YedeklemePolitikalari/ofis",
                  J{{"Ad", "Ofis belgeleri"}, {"Aciklama", "Gecici dosyalar yedeklenmez"},
                    {"HaricListesi", J::array({"*.tmp", "~$*"})}});
  directory.Write("GoogleDriveAccounts/merkez", J{{"DisplayName", "Merkez Drive"},
                                                  {"GoogleDriveEmail", "yedek@merkez.test"},
                                                  {"AccessToken", tokens.accessToken},
                                                  {"RefreshToken", tokens.refreshToken},
                                                  {"ExpiresAt", FormatDateTime(IncMinutes(SystemClock().Now(), 55))}});
  directory.Write("GoogleDriveAccountLinks/demo-merkez",
                  J{{"AccountLoginName", "demo"}, {"GoogleAccountID", "merkez"}, {"IsDefault", true}});
  directory.Write("MailSettings/Admin", J{{"Enabled", true},
                                          {"Host", "127.0.0.1"},
                                          {"Port", smtpPort},
                                          {"UseSsl", false},
                                          {"FromAddress", "rapor@demo.calvora.test"},
                                          {"DefaultToAddresses", "destek@demo.calvora.test"}});
  return 0;
}

TBackupPlan* FindOrAddPlan(std::vector<TBackupPlan>& plans, const std::string& id) {
  for (auto& p : plans)
    if (SameText(p.ID, id)) return &p;
  plans.emplace_back();
  plans.back().ID = id;
  return &plans.back();
}

int Prepare(const std::string& appDir, const std::string& url, const std::string& source) {
  TDeploymentSettings deployment;
  deployment.GoogleClientID = kClientID;
  deployment.GoogleClientSecret = kClientSecret;
  deployment.GoogleAuthEndpoint = url + "/o/oauth2/v2/auth";
  deployment.GoogleTokenEndpoint = url + "/token";
  deployment.DriveApiBase = url;
  deployment.DriveUploadBase = url;
  deployment.FirebaseApiKey = devcloud::AccountDirectoryState::kDefaultApiKey;
  deployment.FirebaseDatabaseURL = url + "/rtdb/";
  deployment.FirebaseAuthBase = url;
  deployment.FirebaseTokenBase = url;
  deployment.ServiceEmail = kServiceEmail;
  deployment.ServicePassword = kServicePassword;
  SaveDeploymentSettings(appDir + "/deployment.ini", deployment);

  TAppEnv app(appDir);
  SaveSignIn(*app.env, TAccountCredentials{"demo", "demo-parola", "Demo Ltd"});

  // The plan as the desktop would keep it; the run fields of an earlier
  // demo stay, except that it is made due at once.
  // The Firebird plan comes back only when a server is there this time, the
  // SQL Server plan only when asked for after the run.
  TBackupPlanStore store(*app.env);
  std::vector<TBackupPlan> plans = store.LoadPlans();
  plans.erase(std::remove_if(plans.begin(), plans.end(),
                             [](const TBackupPlan& p) {
                               return SameText(p.ID, kFirebirdPlanID) || SameText(p.ID, kSqlPlanID);
                             }),
              plans.end());
  TBackupPlan* plan = FindOrAddPlan(plans, kPlanID);
  plan->Name = "Ofis Belgeleri";
  plan->Description = "Ornek klasor yedegi";
  plan->BackupType = "folder";
  plan->SourceFolder = source;
  plan->DriveSubFolder = "Ofis Belgeleri";
  plan->Enabled = true;
  plan->AutoRun = true;
  plan->ScheduleType = "periodic";
  plan->IntervalMinutes = 60;
  plan->RunOnServiceStart = true;
  plan->ReportEmailAddresses = "patron@demo.calvora.test";
  plan->LastRunAt = 0;
  store.SavePlans(plans);
  return 0;
}

int PrepareFirebird(const std::string& appDir, const std::string& host, int port, const std::string& user,
                    const std::string& database, const std::string& workDir) {
  TAppEnv app(appDir);
  TFirebirdBackupConfig firebird = app.config->GetFirebirdBackupConfig();
  firebird.Enabled = true;
  firebird.Server = host;
  firebird.Port = port;
  firebird.UserName = user;
  const char* password = std::getenv("FIREBIRD_DEMO_PASSWORD");
  firebird.Password = password ? password : "";
  firebird.BackupOutputDir = workDir;
  app.config->SetFirebirdBackupConfig(firebird);

  TBackupPlanStore store(*app.env);
  std::vector<TBackupPlan> plans = store.LoadPlans();
  TBackupPlan* plan = FindOrAddPlan(plans, kFirebirdPlanID);
  plan->Name = "Stok Veritabani";
  plan->Description = "Ornek Firebird yedegi";
  plan->BackupType = "firebird";
  plan->DatabaseName = database;
  plan->TempDirectory = workDir;
  plan->DriveSubFolder = "Firebird";
  plan->Enabled = true;
  plan->AutoRun = true;
  plan->ScheduleType = "periodic";
  plan->IntervalMinutes = 60;
  plan->RunOnServiceStart = true;
  plan->LocalBackupRetentionDays = 7;
  plan->ReportEmailAddresses = "patron@demo.calvora.test";
  plan->LastRunAt = 0;
  store.SavePlans(plans);
  return 0;
}

int PrepareSql(const std::string& appDir) {
  TAppEnv app(appDir);
  TBackupPlan plan;
  plan.ID = kSqlPlanID;
  plan.Name = "Muhasebe Veritabani";
  plan.Description = "Ornek SQL Server yedegi";
  plan.BackupType = "sql";
  plan.DatabaseName = "Muhasebe;Stok";
  plan.DriveSubFolder = "SQL";
  plan.Enabled = true;
  plan.AutoRun = true;
  plan.ScheduleType = "daily";
  plan.ScheduleTime = "02:00";
  plan.UseRarEncryption = true;
  plan.DeleteLocalAfterUpload = true;
  plan.LocalBackupRetentionDays = 14;
  plan.ReportEmailAddresses = "patron@demo.calvora.test";
  TBackupPlanStore(*app.env).SavePlan(plan);
  return 0;
}

std::string Text(const std::string& html) {
  std::string text = std::regex_replace(html, std::regex("<(br|/tr|/p|/h[1-6]|/div)[^>]*>", std::regex::icase), "\n");
  text = std::regex_replace(text, std::regex("</t[dh]>", std::regex::icase), "  ");
  text = std::regex_replace(text, std::regex("<[^>]*>"), "");
  for (const auto& [entity, c] : std::vector<std::pair<std::string, std::string>>{
           {"&nbsp;", " "}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&#10003;", "\u2713"},
           {"&amp;", "&"}})
    text = ReplaceAll(text, entity, c);
  std::string out;
  for (const std::string& line : Split(text, '\n')) {
    const std::string trimmed = Trim(std::regex_replace(line, std::regex("[ \t]+"), " "));
    if (!trimmed.empty()) out += "    " + trimmed + "\n";
  }
  return out;
}

// Folders down to the plan's top-level folders, each with what lies below it.
void PrintDriveTree(const std::string& cloudDir) {
  devcloud::GoogleState google(cloudDir);
  struct TFolder {
    int files = 0;
    int folders = 0;
    std::int64_t bytes = 0;
    int revisions = 0;
  };
  std::map<std::string, TFolder> folders;
  std::vector<std::string> order;
  auto ancestors = [](const std::string& path, const std::function<void(const std::string&)>& visit) {
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
      visit(path.substr(0, slash));
  };
  for (const auto& entry : google.ListTree()) {
    if (entry.folder) {
      order.push_back(entry.path);
      folders[entry.path];
      ancestors(entry.path, [&](const std::string& folder) { ++folders[folder].folders; });
      continue;
    }
    ancestors(entry.path, [&](const std::string& folder) {
      auto& f = folders[folder];
      ++f.files;
      f.bytes += entry.size;
      f.revisions += entry.revisions;
    });
  }
  std::printf("Drive tree in the emulator (each folder with everything below it):\n");
  for (const std::string& path : order) {
    const int depth = static_cast<int>(std::count(path.begin(), path.end(), '/'));
    if (depth > 2) continue;
    const auto& f = folders[path];
    std::printf("  %-26s %4d files %3d folders %8lld bytes %4d revisions\n",
                (std::string(static_cast<size_t>(depth) * 2, ' ') + ExtractFileName(path) + "/").c_str(), f.files,
                f.folders, static_cast<long long>(f.bytes), f.revisions);
  }
}

int Report(const std::string& appDir, const std::string& cloudDir, const std::string& mailDir, int mailsBefore) {
  TAppEnv app(appDir);
  for (const TBackupPlan& plan : TBackupPlanStore(*app.env).LoadPlans()) {
    std::printf("Plan \"%s\" (%s -> Drive \"%s\")\n", plan.Name.c_str(), PlanSourceText(plan).c_str(),
                plan.DriveSubFolder.c_str());
    std::printf("  last run:    %s\n", FormatDateTime(plan.LastRunAt).c_str());
    std::printf("  status:      %s\n", plan.LastStatus.c_str());
    std::printf("  message:     %s\n\n", plan.LastMessage.c_str());
    TPlanActivitySnapshot activity;
    if (TryGetPlanActivity(*app.env, plan.ID, activity)) {
      std::printf("Activity record (planactivity.json):\n");
      std::printf("  state %s, stage \"%s\", started %s, completed %s\n", activity.CurrentState.c_str(),
                  activity.CurrentStage.c_str(), FormatDateTime(activity.LastStartedAt).c_str(),
                  FormatDateTime(activity.LastCompletedAt).c_str());
      for (const auto& event : activity.RecentEvents)
        if (event.Timestamp >= activity.LastStartedAt)
          std::printf("  %s  %-18s %s\n", FormatDateTime(event.Timestamp).substr(11).c_str(), event.Title.c_str(),
                    event.Details.c_str());
      std::printf("\n");
    }
  }
  PrintDriveTree(cloudDir);

  // The mails of this run: the capture files are numbered.
  std::vector<int> numbers;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(mailDir, ec)) {
    int n = 0;
    if (entry.path().extension() == ".json" && TryParseInt(entry.path().stem().string(), n) && n > mailsBefore)
      numbers.push_back(n);
  }
  std::sort(numbers.begin(), numbers.end());
  std::printf("\nReport mails received by the local SMTP server in this run:\n");
  if (numbers.empty()) std::printf("  (none)\n");
  for (int n : numbers) {
    TJson mail;
    if (!TryParseJson(ReadTextFile(mailDir + "/" + std::to_string(n) + ".json"), mail)) continue;
    std::vector<std::string> to;
    for (const auto& address : mail["to"]) to.push_back(address.get<std::string>());
    std::printf("  From:    %s\n  To:      %s\n  Subject: %s\n", JsonMemberText(mail, "from").c_str(),
                Join(to, ", ").c_str(), JsonMemberText(mail, "subject").c_str());
    std::printf("%s\n", Text(JsonMemberText(mail, "body")).c_str());
  }
  return 0;
}

// One restore of the newest version, reported on stdout.
bool RestoreNewest(TRestoreService& restore, const TRestorePlan& plan, const std::string& backupName,
                   const std::string& target) {
  std::vector<TRestoreBackup> backups;
  std::vector<TRestoreVersion> versions;
  std::string message;
  if (!restore.ListBackups(plan, backups, message)) throw EAppError(message);
  for (const TRestoreBackup& backup : backups) {
    if (backup.Name != backupName) continue;
    if (!restore.ListVersions(backup, versions, message)) throw EAppError(message);
    TRestoreRequest request = TRestoreRequest::For(plan, backup, versions.front());
    request.TargetPath = target;
    TRestoreResult result = restore.Restore(request);
    std::printf("  %-18s %s (%d surum) -> %s\n", plan.Plan.Name.c_str(), backup.RelativePath.c_str(),
                static_cast<int>(versions.size()), result.Message.c_str());
    return result.Success;
  }
  std::printf("  %-18s %s Drive'da bulunamadi\n", plan.Plan.Name.c_str(), backupName.c_str());
  return false;
}

int Restore(const std::string& appDir, const std::string& destDir, const std::string& fileName) {
  TAppEnv app(appDir);
  TRestoreService restore(*app.env);
  std::vector<TRestorePlan> plans;
  std::string message;
  if (!restore.LoadPlans(plans, message)) throw EAppError(message);
  std::printf("  %s\n", message.c_str());
  bool ok = true;
  for (const TRestorePlan& plan : plans) {
    if (plan.Plan.ID == kFirebirdPlanID)
      ok = RestoreNewest(restore, plan, "STOK_.fbk", destDir + "/STOK_RESTORED.FDB") && ok;
    if (plan.Plan.ID == kPlanID) ok = RestoreNewest(restore, plan, fileName, destDir) && ok;
  }
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "seed-cloud") return SeedCloud(args[1], std::stoi(args[2]));
    if (args.size() == 4 && args[0] == "prepare") return Prepare(args[1], args[2], args[3]);
    if (args.size() == 7 && args[0] == "prepare-firebird")
      return PrepareFirebird(args[1], args[2], std::stoi(args[3]), args[4], args[5], args[6]);
    if (args.size() == 2 && args[0] == "prepare-sql") return PrepareSql(args[1]);
    if (args.size() == 4 && args[0] == "restore") return Restore(args[1], args[2], args[3]);
    if (args.size() == 5 && args[0] == "report") return Report(args[1], args[2], args[3], std::stoi(args[4]));
    std::cerr << "usage: calvora-demo seed-cloud <cloudDir> <smtpPort>\n"
                 "       calvora-demo prepare <appDir> <emulatorUrl> <sourceDir>\n"
                 "       calvora-demo prepare-firebird <appDir> <host> <port> <user> <dbPath> <workDir>\n"
                 "       calvora-demo prepare-sql <appDir>\n"
                 "       calvora-demo restore <appDir> <destDir> <fileName>\n"
                 "       calvora-demo report <appDir> <cloudDir> <mailDir> <mailsBefore>\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "calvora-demo: " << e.what() << "\n";
    return 1;
  }
}
