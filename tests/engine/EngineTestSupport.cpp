#include "EngineTestSupport.h"

#include "account/uFirebaseActiveAccount.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "google/uGoogleAuth.h"

#include "AccountDirectoryState.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace calvora::test {
namespace {

constexpr const char* kServiceEmail = "servis@calvora.test";
constexpr const char* kServicePassword = "Sv-engine-7Hq2";

// The stand-in script. Standard library only.
constexpr const char* kFakeScript = R"PY(
import json, os, sys

def arg(name):
    for i, a in enumerate(sys.argv):
        if a.lower() == "-" + name.lower() and i + 1 < len(sys.argv):
            return sys.argv[i + 1]
    return ""

def load(path):
    with open(path, "r", encoding="utf-8-sig") as f:
        return json.load(f)

here = os.path.dirname(os.path.abspath(__file__))
mode = arg("Mode")
config = load(arg("ConfigPath"))
payload = load(arg("PayloadPath"))
with open(os.path.join(here, "calls.jsonl"), "a", encoding="utf-8") as f:
    f.write(json.dumps({"script": os.path.basename(__file__), "mode": mode, "config": config,
                        "payload": payload, "configMode": oct(os.stat(arg("ConfigPath")).st_mode & 0o777)}) + "\n")

scenario = {}
path = os.path.join(here, "scenario.json")
if os.path.exists(path):
    scenario = load(path)
key = mode
target = payload.get("databaseName") or payload.get("databasePath") or ""
if target and (mode + ":" + target) in scenario:
    key = mode + ":" + target
step = scenario.get(key, {"result": {"success": True, "message": "ok"}})
if isinstance(step, list):
    counter = os.path.join(here, "counter_" + "".join(c if c.isalnum() else "_" for c in key))
    n = int(open(counter).read()) if os.path.exists(counter) else 0
    open(counter, "w").write(str(n + 1))
    step = step[min(n, len(step) - 1)]

result = dict(step.get("result", {}))
if "writeBytes" in step:
    folder = payload.get("backupDirectory") or config.get("backupOutputDir") or here
    os.makedirs(folder, exist_ok=True)
    out = os.path.join(folder, payload.get("backupFileName", "backup.bak"))
    with open(out, "wb") as f:
        block = bytes(range(256)) * 4096
        left = int(step["writeBytes"])
        while left > 0:
            f.write(block[:left])
            left -= len(block[:left])
    result.setdefault("backupFilePath", out)
if not step.get("noResult"):
    with open(arg("ResultPath"), "w", encoding="utf-8") as f:
        if "raw" in step:
            f.write(step["raw"])
        else:
            json.dump(result, f)
sys.exit(int(step.get("exit", 0)))
)PY";

}  // namespace

platform::ProcessResult TRecordingRunner::Run(const platform::ProcessRequest& request) {
  bool fail = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.push_back(request);
    fail = !failPrefix_.empty() && StartsWith(ExtractFileName(request.program), failPrefix_);
  }
  if (fail) {
    platform::ProcessResult result;
    result.error = "No such file or directory";
    return result;
  }
  return platform::SystemProcessRunner().Run(request);
}

bool TRecordingRunner::StartDetached(const platform::ProcessRequest& request, std::string& error) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.push_back(request);
  }
  return platform::SystemProcessRunner().StartDetached(request, error);
}

std::vector<platform::ProcessRequest> TRecordingRunner::Requests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

std::vector<platform::ProcessRequest> TRecordingRunner::RequestsOf(const std::string& prefix) const {
  std::vector<platform::ProcessRequest> out;
  for (const auto& request : Requests())
    if (StartsWith(ExtractFileName(request.program), prefix)) out.push_back(request);
  return out;
}

void InstallFakeScript(const std::string& programDir, const std::string& scriptName) {
  WriteFile(programDir + "/sql/" + scriptName, kFakeScript);
}

void WriteScenario(const std::string& programDir, const std::string& json) {
  WriteFile(programDir + "/sql/scenario.json", json);
  for (const auto& entry : std::filesystem::directory_iterator(programDir + "/sql"))
    if (StartsWith(entry.path().filename().string(), "counter_")) std::filesystem::remove(entry.path());
}

std::vector<std::string> ScriptCalls(const std::string& programDir) {
  std::vector<std::string> calls;
  std::ifstream in(programDir + "/sql/calls.jsonl");
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) calls.push_back(line);
  return calls;
}

void InstallRealScripts(const std::string& programDir) {
  std::filesystem::create_directories(programDir + "/sql");
  for (const auto& entry : std::filesystem::directory_iterator(SourceDir() + "/sql"))
    if (entry.path().extension() == ".py")
      std::filesystem::copy_file(entry.path(), programDir + "/sql/" + entry.path().filename().string(),
                                 std::filesystem::copy_options::overwrite_existing);
}

EngineTest::EngineTest() {
  cloud.Cloud().Account().AddUser(kServiceEmail, kServicePassword);
  TDeploymentSettings deployment = cloud.Deployment();
  deployment.ServiceEmail = kServiceEmail;
  deployment.ServicePassword = kServicePassword;
  testEnv = std::make_unique<TTestEnv>(deployment, &runner);
  cloud.Cloud().Account().Write("Lisanslar/musteri",
                                devcloud::DatabaseJson{{"LoginName", "musteri"}, {"Email", "musteri@firma.tr"},
                                                       {"Sifre", "pw"}, {"Musteri", "Deneme Ltd"}});
  SaveSignIn(Env(), TAccountCredentials{"musteri", "pw", "Deneme Ltd"});
  // The Google token as the desktop left it in the cache.
  TGoogleAuth auth(Env(), TDevCloudFixture::kClientID, TDevCloudFixture::kClientSecret, 8080, false);
  TTokenData tokens;
  tokens.AccessToken = cloud.AccessToken();
  tokens.RefreshToken = cloud.RefreshToken();
  tokens.ExpiresAt = IncMinutes(Clock().Now(), 60);
  auth.SetTokenData(tokens);
  auth.SaveTokens(Env().Config().GetGoogleTokenCachePath());
  std::filesystem::create_directories(WorkDir());
}

std::vector<std::string> EngineTest::WorkFiles() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(WorkDir()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TMSSQLBackupConfig EngineTest::SqlConfig() {
  TMSSQLBackupConfig config;
  config.Enabled = true;
  config.Server = "SQL01";
  config.UserName = "sa";
  config.Password = "Sql-Secret-1";
  return config;
}

std::unique_ptr<TEngineProbe> EngineTest::MakeEngine(const TMSSQLBackupConfig& config) {
  return std::make_unique<TEngineProbe>(config, Env());
}

TBackupPlan EngineTest::SqlPlan(const std::string& database) const {
  TBackupPlan plan;
  plan.ID = "{11111111-2222-3333-4444-555555555555}";
  plan.Name = "Gunluk " + database;
  plan.BackupType = "sql";
  plan.DatabaseName = database;
  plan.TempDirectory = WorkDir();
  plan.UploadRetryCount = 0;
  plan.RarSplitVolumeMB = 0;
  plan.UseRarEncryption = false;
  return plan;
}

std::string EngineTest::AccountFolderId() {
  for (const auto& file : Google().Children(Google().RootFolderId()))
    if (file.name == "Deneme Ltd" && file.IsFolder()) return file.id;
  return std::string();
}

std::vector<std::string> EngineTest::DriveNames(const std::string& folderId) {
  std::vector<std::string> names;
  for (const auto& file : Google().Children(folderId)) names.push_back(file.name);
  return names;
}

void EngineTest::WriteBytes(const std::string& path, std::int64_t size) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string block(65536, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 131 + 7) % 251);
  for (std::int64_t left = size; left > 0;) {
    std::int64_t n = std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size()));
    out.write(block.data(), static_cast<std::streamsize>(n));
    left -= n;
  }
}

}  // namespace calvora::test
