// Drive transfer benchmark against the local cloud emulator.
//
//   drive_bench upload   --size-mib N [--repeat R]
//   drive_bench download --size-mib N [--repeat R]
//
// Moves N MiB through TGoogleDrive (UploadFile / DownloadFile) and the same
// bytes through curl against the same emulator, which is the limit of this
// machine's loopback and disk. The client runs in a child process of its own
// so its peak resident memory can be read. The last output line is one JSON
// object: op, size_mib, calvora_mib_s, curl_mib_s, ratio, peak_rss_mib.
#include "BenchSupport.h"
#include "DevCloud.h"
#include "GoogleState.h"
#include "foundation/Env.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uAppConfig.h"
#include "google/uGoogleAuth.h"
#include "google/uGoogleDrive.h"
#include "platform/http_client.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/resource_usage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
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

// ---------------------------------------------------------------- child: the client

// drive_bench client <upload|download> --work DIR --base URL --token T --path P [--file-id ID]
int RunClient(const std::string& op, const std::map<std::string, std::string>& options) {
  const std::string work = options.at("--work");
  TConfigLocations locations;
  locations.ExecutableDir = work + "/bin";
  locations.ProgramData = work + "/programdata";
  locations.AppData = work + "/appdata";
  ForceDirectories(locations.ExecutableDir);
  TDeploymentSettings deployment;
  deployment.DriveApiBase = deployment.DriveUploadBase = options.at("--base");
  locations.Deployment = deployment;
  TAppConfig config(locations);
  TEnv env(config, deployment, SystemClock(), platform::SystemProcessRunner(), locations.ExecutableDir,
           platform::UserTempDir());
  TGoogleAuth auth(env, "bench", "bench", 8080, false);
  auth.SetTokenData(TTokenData{options.at("--token"), "", IncHours(env.Now(), 1)});
  TGoogleDrive drive(auth);

  bool ok = false;
  std::string detail;
  if (op == "upload") {
    TDriveFileInfo result = drive.UploadFile(options.at("--path"), "");
    ok = !result.FileID.empty();
    detail = result.FileID + " " + result.MD5;
  } else {
    ok = drive.DownloadFile(options.at("--file-id"), options.at("--path"));
  }
  std::cout << (ok ? "ok " : "failed ") << platform::PeakResidentKiB() << " " << detail << std::endl;
  return ok ? 0 : 1;
}

// ---------------------------------------------------------------- parent: the measurement

struct Run {
  double seconds = 0;
  long peakRssKiB = 0;
  std::string detail;
};

void WriteSourceFile(const std::string& path, std::int64_t mib) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::mt19937_64 random(42);
  std::vector<std::uint64_t> block(1048576 / 8);
  for (std::int64_t i = 0; i < mib; ++i) {
    for (auto& word : block) word = random();
    out.write(reinterpret_cast<const char*>(block.data()), 1048576);
  }
  if (!out) throw std::runtime_error("cannot write " + path);
}

// Runs a program to its end and times it; a failure ends the benchmark.
Run RunTimed(const std::string& program, const std::vector<std::string>& arguments,
             platform::ProcessResult& result) {
  platform::ProcessRequest request;
  request.program = program;
  request.arguments = arguments;
  request.captureOutput = true;
  auto start = std::chrono::steady_clock::now();
  result = platform::SystemProcessRunner().Run(request);
  Run run;
  run.seconds = Seconds(start);
  if (!result.started || result.exitCode != 0)
    throw std::runtime_error(program + " failed (" + std::to_string(result.exitCode) + "): " + result.error +
                             result.output);
  return run;
}

// The client child prints "ok <peak KiB> <detail>".
Run RunChild(const std::string& self, const std::vector<std::string>& arguments) {
  platform::ProcessResult result;
  Run run = RunTimed(self, arguments, result);
  std::istringstream out(result.output);
  std::string status;
  out >> status >> run.peakRssKiB;
  std::getline(out, run.detail);
  run.detail = Trim(run.detail);
  return run;
}

Run RunCurl(const std::vector<std::string>& arguments) {
  platform::ProcessResult result;
  Run run = RunTimed("curl", arguments, result);
  run.detail = Trim(result.output);
  return run;
}

std::string StartSession(const std::string& base, const std::string& token, std::int64_t size,
                         const std::string& name) {
  platform::HttpClient client;
  platform::HttpRequest request;
  request.method = "POST";
  request.url = base + "/upload/drive/v3/files?uploadType=resumable&fields=id,name,size,md5Checksum";
  request.headers = {{"Authorization", "Bearer " + token},
                     {"Content-Type", "application/json; charset=UTF-8"},
                     {"X-Upload-Content-Length", std::to_string(size)}};
  request.body = "{\"name\":\"" + name + "\"}";
  platform::HttpResponse response = client.Send(request);
  if (response.status != 200) throw std::runtime_error("session start: HTTP " + std::to_string(response.status));
  return response.Header("Location");
}

int RunBenchmark(const std::string& self, const std::string& op, std::int64_t mib, int repeat) {
  const std::string work = platform::UserTempDir() + "/drive-bench-" + RandomAlphaNumeric(8);
  ForceDirectories(work);
  const bench::TScratchFolder scratch{work};

  devcloud::DevCloud cloud(work + "/cloud");
  if (!cloud.Start()) throw std::runtime_error("the emulator did not start");
  const std::string base = cloud.BaseUrl();
  const std::string token = cloud.Google().MintAccessToken(86400);
  const std::string source = work + "/source.bin";
  const std::int64_t bytes = mib * 1048576;
  std::cerr << "writing " << mib << " MiB source file\n";
  WriteSourceFile(source, mib);

  double bestCalvora = 1e300, bestCurl = 1e300;
  long peak = 0;
  std::string fileId;  // download: the file both clients fetch
  if (op == "download") {
    RunCurl({"-sS", "--fail", "-o", "/dev/null", "-T", source, StartSession(base, token, bytes, "source.bin")});
    fileId = cloud.Google().FilesNamed("source.bin").at(0).id;
  }
  for (int round = 0; round < repeat; ++round) {
    if (op == "upload") {
      // The order alternates, so neither side always meets the other's
      // disk write-back.
      Run calvora, curl;
      auto runCalvora = [&] {
        calvora = RunChild(self, {"client", "upload", "--work", work, "--base", base, "--token", token, "--path", source});
      };
      auto runCurl = [&] {
        curl = RunCurl({"-sS", "--fail", "-o", "/dev/null", "-T", source, StartSession(base, token, bytes, "curl.bin")});
      };
      if (round % 2 == 0) {
        runCalvora();
        runCurl();
      } else {
        runCurl();
        runCalvora();
      }
      // Each upload leaves a stored copy; keep the disk use flat.
      for (const char* name : {"source.bin", "curl.bin"})
        for (const auto& f : cloud.Google().FilesNamed(name)) DeleteFileIfExists(f.revisions.back().contentPath);
      std::cerr << "round " << round + 1 << ": calvora " << calvora.seconds << " s (peak " << calvora.peakRssKiB
                << " KiB), curl " << curl.seconds << " s\n";
      bestCalvora = std::min(bestCalvora, calvora.seconds);
      bestCurl = std::min(bestCurl, curl.seconds);
      peak = std::max(peak, calvora.peakRssKiB);
    } else {
      const std::string dest = work + "/download.bin";
      Run calvora, curl;
      auto runCalvora = [&] {
        calvora = RunChild(self, {"client", "download", "--work", work, "--base", base, "--token", token, "--path",
                                  dest, "--file-id", fileId});
        if (FileSizeOf(dest) != bytes) throw std::runtime_error("download incomplete");
        DeleteFileIfExists(dest);
      };
      auto runCurl = [&] {
        curl = RunCurl({"-sS", "--fail", "-o", dest, "-H", "Authorization: Bearer " + token,
                        base + "/drive/v3/files/" + fileId + "?alt=media"});
        if (FileSizeOf(dest) != bytes) throw std::runtime_error("curl download incomplete");
        DeleteFileIfExists(dest);
      };
      if (round % 2 == 0) {
        runCalvora();
        runCurl();
      } else {
        runCurl();
        runCalvora();
      }
      std::cerr << "round " << round + 1 << ": calvora " << calvora.seconds << " s (peak " << calvora.peakRssKiB
                << " KiB), curl " << curl.seconds << " s\n";
      bestCalvora = std::min(bestCalvora, calvora.seconds);
      bestCurl = std::min(bestCurl, curl.seconds);
      peak = std::max(peak, calvora.peakRssKiB);
    }
  }
  cloud.Stop();

  const double calvoraRate = static_cast<double>(mib) / bestCalvora;
  const double curlRate = static_cast<double>(mib) / bestCurl;
  char line[512];
  std::snprintf(line, sizeof line,
                "{\"op\":\"%s\",\"size_mib\":%lld,\"calvora_mib_s\":%.1f,\"curl_mib_s\":%.1f,\"ratio\":%.3f,"
                "\"peak_rss_mib\":%.1f}",
                op.c_str(), static_cast<long long>(mib), calvoraRate, curlRate, calvoraRate / curlRate,
                static_cast<double>(peak) / 1024.0);
  std::cout << line << std::endl;
  return 0;
}

void Usage() {
  std::cerr << "usage: drive_bench upload|download --size-mib N [--repeat R]\n";
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc >= 3 && std::string(argv[1]) == "client") return RunClient(argv[2], Options(argc, argv, 3));
    if (argc < 2) {
      Usage();
      return 2;
    }
    const std::string op = argv[1];
    if (op != "upload" && op != "download") {
      Usage();
      return 2;
    }
    auto options = Options(argc, argv, 2);
    long long mib = 256;
    int repeat = 1;
    if (options.count("--size-mib") && !TryParseInt64(options["--size-mib"], mib)) mib = -1;
    if (options.count("--repeat") && !TryParseInt(options["--repeat"], repeat)) repeat = -1;
    if (mib <= 0 || repeat <= 0) {
      Usage();
      return 2;
    }
    return RunBenchmark(platform::ExecutablePath(), op, mib, repeat);
  } catch (const std::exception& e) {
    std::cerr << "drive_bench: " << e.what() << "\n";
    return 1;
  }
}
