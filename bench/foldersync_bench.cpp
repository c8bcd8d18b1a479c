// Folder synchronisation benchmark against the local cloud emulator.
//
//   foldersync_bench [--files N] [--folders M] [--file-kib K]
//
// Writes N files of about K KiB spread over M folders, then runs a folder
// plan through the backup engine three times: the first upload, a run with
// no change, and a run after 1% of the files changed. Each run is a child
// process of its own, so its peak resident memory can be read; the emulator
// stays in this process and counts the Drive requests of each run. For
// comparison it also measures:
//   - the same no-change run done file by file (one folder lookup and one
//     listing per file, 4 KiB hash blocks, no size shortcut), and
//   - hashing the tree with the engine's FileMD5 against `md5sum`.
// The last output line is one JSON object.
//
//   foldersync_bench firstsync [--files N] [--folders M] [--file-kib K] [--delay-ms D] [--jitter-ms J]
//
// The first upload of N files with every emulator request delayed by D ms
// (as a distant Drive answers), once with one upload worker and once with
// the engine's pool: both times, the Drive requests and the peak resident
// memory of each run, and how much faster the pool was.
#include "BenchSupport.h"
#include "AccountDirectoryState.h"
#include "DevCloud.h"
#include "GoogleState.h"
#include "account/uFirebaseActiveAccount.h"
#include "engine/uCloudBackup.h"
#include "engine/uFileHasher.h"
#include "foundation/Crypto.h"
#include "foundation/Env.h"
#include "foundation/Format.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uAppConfig.h"
#include "google/uGoogleAuth.h"
#include "google/uGoogleDrive.h"
#include "plans/uBackupPlans.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/resource_usage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace calvora;
namespace fs = std::filesystem;
using bench::Options;
using bench::Seconds;

double PeakRssMiB() { return platform::PeakResidentKiB() / 1024.0; }

constexpr const char kServiceEmail[] = "servis@bench.test";
constexpr const char kServicePassword[] = "bench-servis";
constexpr const char kClientID[] = "bench-client.apps.googleusercontent.com";
constexpr const char kClientSecret[] = "bench-secret";

std::string Option(const std::map<std::string, std::string>& options, const std::string& name,
                   const std::string& fallback) {
  auto it = options.find(name);
  return it == options.end() ? fallback : it->second;
}

// The program folder of the engine runs: "<work>/bin", data in "<work>/bin/config".
struct TBenchEnv {
  explicit TBenchEnv(const std::string& work) {
    TConfigLocations locations;
    locations.ExecutableDir = work + "/bin";
    locations.ProgramData = work + "/programdata";
    locations.AppData = work + "/appdata";
    ForceDirectories(locations.ExecutableDir);
    deployment = LoadDeploymentSettings(work + "/bin/deployment.ini");
    locations.Deployment = deployment;
    config = std::make_unique<TAppConfig>(locations);
    env = std::make_unique<TEnv>(*config, deployment, SystemClock(), platform::SystemProcessRunner(),
                                 locations.ExecutableDir, work + "/tmp");
    fs::create_directories(work);
    fs::create_directory(work + "/tmp");
    fs::permissions(work + "/tmp", fs::perms::owner_all);
  }
  TDeploymentSettings deployment;
  std::unique_ptr<TAppConfig> config;
  std::unique_ptr<TEnv> env;
};

TBackupPlan BenchPlan(const std::string& work, const std::string& subFolder = "Bench") {
  TBackupPlan plan;
  plan.ID = "{B0000000-0000-0000-0000-000000000001}";
  plan.Name = "Bench";
  plan.BackupType = "folder";
  plan.SourceFolder = work + "/src";
  plan.DriveSubFolder = subFolder;
  return plan;
}

// ---------------------------------------------------------------- children

// foldersync_bench sync --work DIR [--workers N] [--subfolder NAME]: one
// plan run through the engine.
int RunSync(const std::map<std::string, std::string>& options) {
  const std::string work = options.at("--work");
  TBenchEnv bench(work);
  TBackupPlan plan = BenchPlan(work, Option(options, "--subfolder", "Bench"));
  const int workers =
      std::stoi(Option(options, "--workers", std::to_string(TCloudBackupService::kFolderUploadWorkers)));
  auto start = std::chrono::steady_clock::now();
  std::string file, message;
  bool ok = false;
  {
    TCloudBackupService engine(TMSSQLBackupConfig(), *bench.env);
    engine.SetFolderUploadWorkers(workers);
    ok = engine.BackupPlan(plan, file, message);
  }
  TJson out = {{"ok", ok}, {"seconds", Seconds(start)}, {"peak_rss_mib", PeakRssMiB()}, {"message", message}};
  std::cout << JsonToText(out) << std::endl;
  return ok ? 0 : 1;
}

// MD5 in 4 KiB blocks, as a file-by-file design reads.
std::string SmallBlockMD5(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw std::runtime_error("cannot open " + path);
  TMd5 md5;
  char block[4096];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, f)) > 0) md5.Update(block, got);
  std::fclose(f);
  return md5.FinalHex();
}

// foldersync_bench baseline --work DIR: the no-change run done file by
// file: the folder of each file looked up (the client caches folder paths),
// the file found by listing its folder, every existing file hashed.
int RunBaseline(const std::map<std::string, std::string>& options) {
  const std::string work = options.at("--work");
  TBenchEnv bench(work);
  auto start = std::chrono::steady_clock::now();
  TGoogleAuth auth(*bench.env, kClientID, kClientSecret, 8080, false);
  auth.LoadTokens(bench.config->GetGoogleTokenCachePath());
  TGoogleDrive drive(auth);
  const std::string root = drive.EnsureFolderPath("root", "Bench Ltd");
  const std::string target = drive.EnsureFolderPath(root, "Bench");
  const std::string source = work + "/src/";
  int unchanged = 0, files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    if (!entry.is_regular_file()) continue;
    ++files;
    const std::string full = entry.path().string();
    const std::string rel = full.substr(source.size());
    const std::string relDir = ExtractFileDir(rel);
    const std::string folder = relDir.empty() ? target : drive.EnsureFolderPath(target, relDir);
    const TDriveFileInfo existing = drive.FindFileInFolder(folder, ExtractFileName(rel));
    if (!existing.FileID.empty() && SameText(existing.MD5, SmallBlockMD5(full))) ++unchanged;
  }
  TJson out = {{"ok", unchanged == files},
               {"seconds", Seconds(start)},
               {"peak_rss_mib", PeakRssMiB()},
               {"message", Fmt("%d/%d unchanged", unchanged, files)}};
  std::cout << JsonToText(out) << std::endl;
  return unchanged == files ? 0 : 1;
}

// foldersync_bench hash --work DIR: FileMD5 over every file of the tree.
int RunHash(const std::map<std::string, std::string>& options) {
  const std::string source = options.at("--work") + "/src";
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(source))
    if (entry.is_regular_file()) files.push_back(entry.path().string());
  auto start = std::chrono::steady_clock::now();
  std::uint64_t sum = 0;
  for (const auto& file : files) sum += static_cast<unsigned char>(FileMD5(file)[0]);
  TJson out = {{"ok", sum > 0}, {"seconds", Seconds(start)}, {"peak_rss_mib", PeakRssMiB()}, {"message", ""}};
  std::cout << JsonToText(out) << std::endl;
  return 0;
}

// ---------------------------------------------------------------- parent

struct TRun {
  double seconds = 0;
  double peakRssMiB = 0;
  std::int64_t driveRequests = 0;
  std::string message;
  TJson ToJson() const {
    return {{"seconds", seconds}, {"drive_requests", driveRequests}, {"peak_rss_mib", peakRssMiB},
            {"message", message}};
  }
};

TRun RunChild(const std::string& self, const std::string& mode, const std::string& work,
              devcloud::DevCloud& cloud, const std::vector<std::string>& extra = {}) {
  cloud.ResetCounts();
  platform::ProcessRequest request;
  request.program = self;
  request.arguments = {mode, "--work", work};
  request.arguments.insert(request.arguments.end(), extra.begin(), extra.end());
  request.captureOutput = true;
  platform::ProcessResult result = platform::SystemProcessRunner().Run(request);
  if (!result.started) throw std::runtime_error(mode + " did not start: " + result.error);
  TRun run;
  run.driveRequests = cloud.RequestCount("", "/drive") + cloud.RequestCount("", "/upload");
  // The JSON line is the last line of the child's output.
  std::string last;
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);)
    if (!Trim(line).empty()) last = line;
  TJson out;
  if (!TryParseJson(last, out) || !JsonMemberBool(out, "ok") || result.exitCode != 0)
    throw std::runtime_error(mode + " failed (" + std::to_string(result.exitCode) + "): " + result.output);
  run.seconds = out["seconds"].get<double>();
  run.peakRssMiB = out["peak_rss_mib"].get<double>();
  run.message = JsonMemberText(out, "message");
  return run;
}

void WriteContent(const std::string& path, std::size_t size, std::mt19937_64& random) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    const std::uint64_t word = random();
    std::copy_n(reinterpret_cast<const char*>(&word), 8, bytes.begin() + static_cast<std::ptrdiff_t>(i));
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> WriteTree(const std::string& source, int files, int folders, int fileKiB) {
  std::mt19937_64 random(7);
  std::vector<std::string> paths;
  for (int i = 0; i < files; ++i) {
    const std::string folder = Fmt("%s/d%03d", source, i % folders);
    if (i < folders) ForceDirectories(folder);
    // Sizes spread around the mean, so the tree is not uniform.
    const std::size_t size = static_cast<std::size_t>(fileKiB) * 1024 / 2 + random() % (static_cast<std::size_t>(fileKiB) * 1024);
    const std::string path = Fmt("%s/f%05d.dat", folder, i);
    WriteContent(path, size, random);
    paths.push_back(path);
  }
  return paths;
}

double TimeMd5sum(const std::string& source) {
  platform::ProcessRequest request;
  request.program = "sh";
  request.arguments = {"-c", "find '" + source + "' -type f -print0 | xargs -0 md5sum > /dev/null"};
  auto start = std::chrono::steady_clock::now();
  platform::ProcessResult result = platform::SystemProcessRunner().Run(request);
  if (!result.started || result.exitCode != 0) throw std::runtime_error("md5sum failed: " + result.error);
  return Seconds(start);
}

// The account directory and Drive the engine runs against: the service
// login, the account "Bench Ltd" signed in, a Google token in the cache.
void Prepare(const std::string& work, devcloud::DevCloud& cloud) {
  cloud.Google().RegisterClient(kClientID, kClientSecret);
  const auto tokens = cloud.Google().MintTokens(kClientID, 86400);
  auto& directory = cloud.Account();
  directory.AddUser(kServiceEmail, kServicePassword);
  directory.Write("Lisanslar/bench", devcloud::DatabaseJson{{"LoginName", "bench"}, {"Sifre", "pw"},
                                                            {"Musteri", "Bench Ltd"}, {"KotaMB", 1048576}});

  TDeploymentSettings deployment;
  const std::string base = cloud.BaseUrl();
  deployment.GoogleClientID = kClientID;
  deployment.GoogleClientSecret = kClientSecret;
  deployment.GoogleTokenEndpoint = base + "/token";
  deployment.DriveApiBase = deployment.DriveUploadBase = base;
  deployment.FirebaseApiKey = directory.ApiKey();
  deployment.FirebaseDatabaseURL = base + "/rtdb/";
  deployment.FirebaseAuthBase = deployment.FirebaseTokenBase = base;
  deployment.ServiceEmail = kServiceEmail;
  deployment.ServicePassword = kServicePassword;
  ForceDirectories(work + "/bin");
  SaveDeploymentSettings(work + "/bin/deployment.ini", deployment);

  TBenchEnv bench(work);
  SaveSignIn(*bench.env, TAccountCredentials{"bench", "pw", "Bench Ltd"});
  TGoogleAuth auth(*bench.env, kClientID, kClientSecret, 8080, false);
  TTokenData data;
  data.AccessToken = tokens.accessToken;
  data.RefreshToken = tokens.refreshToken;
  data.ExpiresAt = IncHours(bench.env->Now(), 24);
  auth.SetTokenData(data);
  auth.SaveTokens(bench.config->GetGoogleTokenCachePath());
}

int RunBenchmark(const std::string& self, int files, int folders, int fileKiB) {
  const std::string work = platform::UserTempDir() + "/foldersync-bench-" + RandomAlphaNumeric(8);
  ForceDirectories(work);
  const bench::TScratchFolder scratch{work};
  // The runs protect their secrets with a key of their own.
  setenv("CALVORA_MACHINE_KEY_FILE", (work + "/machine.key").c_str(), 1);

  devcloud::DevCloud cloud(work + "/cloud");
  if (!cloud.Start()) throw std::runtime_error("the emulator did not start");
  Prepare(work, cloud);

  std::cerr << "writing " << files << " files in " << folders << " folders\n";
  const std::vector<std::string> paths = WriteTree(work + "/src", files, folders, fileKiB);

  TRun initial = RunChild(self, "sync", work, cloud);
  std::cerr << "initial: " << initial.seconds << " s, " << initial.driveRequests << " requests; " << initial.message
            << "\n";
  TRun unchanged = RunChild(self, "sync", work, cloud);
  std::cerr << "unchanged: " << unchanged.seconds << " s, " << unchanged.driveRequests << " requests; "
            << unchanged.message << "\n";
  TRun baseline = RunChild(self, "baseline", work, cloud);
  std::cerr << "unchanged, file by file: " << baseline.seconds << " s, " << baseline.driveRequests
            << " requests\n";

  // 1% changed: half keep their size (found by the digest), half grow.
  std::mt19937_64 random(99);
  const int changes = std::max(1, files / 100);
  for (int i = 0; i < changes; ++i) {
    const std::string& path = paths[static_cast<size_t>(i) * paths.size() / static_cast<size_t>(changes)];
    const auto size = static_cast<std::size_t>(FileSizeOf(path));
    WriteContent(path, i % 2 == 0 ? size : size + 1024, random);
  }
  TRun changed = RunChild(self, "sync", work, cloud);
  std::cerr << "1% changed: " << changed.seconds << " s, " << changed.driveRequests << " requests; "
            << changed.message << "\n";

  const TRun hash = RunChild(self, "hash", work, cloud);
  const double md5sum = TimeMd5sum(work + "/src");
  std::cerr << "hashing the tree: FileMD5 " << hash.seconds << " s, md5sum " << md5sum << " s\n";

  TJson result = {{"files", files},
                  {"folders", folders},
                  {"file_kib", fileKiB},
                  {"initial", initial.ToJson()},
                  {"unchanged", unchanged.ToJson()},
                  {"changed_1pct", changed.ToJson()},
                  {"unchanged_file_by_file", baseline.ToJson()},
                  {"hash_seconds", hash.seconds},
                  {"md5sum_seconds", md5sum},
                  {"hash_speed_vs_md5sum", hash.seconds > 0 ? md5sum / hash.seconds : 0.0}};
  std::cout << JsonToText(result) << std::endl;
  return 0;
}

// The first sync of the same tree into two fresh Drive folders, with one
// worker and with the pool, every request delayed.
int RunFirstSync(const std::string& self, int files, int folders, int fileKiB, int delayMs, int jitterMs) {
  const std::string work = platform::UserTempDir() + "/firstsync-bench-" + RandomAlphaNumeric(8);
  ForceDirectories(work);
  const bench::TScratchFolder scratch{work};
  setenv("CALVORA_MACHINE_KEY_FILE", (work + "/machine.key").c_str(), 1);

  devcloud::DevCloud cloud(work + "/cloud");
  if (!cloud.Start()) throw std::runtime_error("the emulator did not start");
  Prepare(work, cloud);
  std::cerr << "writing " << files << " files in " << folders << " folders\n";
  WriteTree(work + "/src", files, folders, fileKiB);
  cloud.SetRequestDelay(delayMs, jitterMs);

  const int pool = TCloudBackupService::kFolderUploadWorkers;
  const TRun one = RunChild(self, "sync", work, cloud, {"--workers", "1", "--subfolder", "Bir"});
  // The second run measures the account's usage as the first did: on an
  // account without the first run's tree (trashed files do not count).
  for (const auto& entry : cloud.Google().ListTree())
    if (entry.folder && entry.path == "Bench Ltd/Bir") cloud.Google().SetTrashed(entry.id, true);
  std::cerr << "1 worker: " << one.seconds << " s, " << one.driveRequests << " requests, " << one.peakRssMiB
            << " MiB peak; " << one.message << "\n";
  const TRun many = RunChild(self, "sync", work, cloud, {"--workers", std::to_string(pool), "--subfolder", "Dort"});
  std::cerr << pool << " workers: " << many.seconds << " s, " << many.driveRequests << " requests, "
            << many.peakRssMiB << " MiB peak; " << many.message << "\n";
  if (one.message != many.message) throw std::runtime_error("the runs differ: " + one.message + " / " + many.message);
  const double ratio = many.seconds > 0 ? one.seconds / many.seconds : 0.0;
  std::cerr << "speed-up: " << ratio << "x\n";

  TJson result = {{"files", files},
                  {"folders", folders},
                  {"file_kib", fileKiB},
                  {"delay_ms", delayMs},
                  {"jitter_ms", jitterMs},
                  {"workers", pool},
                  {"one_worker", one.ToJson()},
                  {"pool", many.ToJson()},
                  {"speedup", ratio}};
  std::cout << JsonToText(result) << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "sync") return RunSync(Options(argc, argv, 2));
    if (mode == "baseline") return RunBaseline(Options(argc, argv, 2));
    if (mode == "hash") return RunHash(Options(argc, argv, 2));
    if (mode == "firstsync") {
      const auto options = Options(argc, argv, 2);
      const int files = std::stoi(Option(options, "--files", "2000"));
      const int folders = std::stoi(Option(options, "--folders", "20"));
      const int fileKiB = std::stoi(Option(options, "--file-kib", "16"));
      const int delayMs = std::stoi(Option(options, "--delay-ms", "50"));
      const int jitterMs = std::stoi(Option(options, "--jitter-ms", "0"));
      if (files < 1 || folders < 1 || fileKiB < 1 || delayMs < 0 || jitterMs < 0)
        throw std::runtime_error("--files, --folders and --file-kib must be positive, the delays not negative");
      return RunFirstSync(platform::ExecutablePath(), files, std::min(files, folders), fileKiB, delayMs, jitterMs);
    }
    // scripts/bench passes its subcommand first.
    const auto options = Options(argc, argv, mode == "foldersync" ? 2 : 1);
    const int files = std::stoi(Option(options, "--files", "10000"));
    const int folders = std::stoi(Option(options, "--folders", "100"));
    const int fileKiB = std::stoi(Option(options, "--file-kib", "32"));
    if (files < 1 || folders < 1 || fileKiB < 1) throw std::runtime_error("--files, --folders and --file-kib must be positive");
    return RunBenchmark(platform::ExecutablePath(), files, std::min(files, folders), fileKiB);
  } catch (const std::exception& e) {
    std::cerr << "foldersync_bench: " << e.what() << "\n";
    return 1;
  }
}
