// Archive benchmark: the upload pipeline's archiver settings on an
// incompressible backup.
//
//   archive_bench archive --size-mib N [--repeat R] [--dir D]
//
// Writes N MiB of random bytes as a backup file, then archives and encrypts
// it the way a plan with a password and 256 MiB volumes does, and copies
// the same file with a plain read/write loop in the same run, which is the
// limit of this machine's disk and page cache. With --repeat the best round
// of each counts. The last output line is one JSON object: op, size_mib,
// volumes, mib_s, cp_mib_s, ratio, peak_rss_mib (this process and the
// archiver).
#include "BenchSupport.h"
#include "engine/uCloudBackup.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uAppConfig.h"
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
#include <string>
#include <vector>

namespace {

using namespace calvora;
namespace fs = std::filesystem;
using bench::Options;
using bench::Seconds;

constexpr std::int64_t kMiB = 1048576;

// The engine with its archive step reachable.
class TArchiveProbe : public TCloudBackupService {
 public:
  using TCloudBackupService::CreateRarArchive;
  using TCloudBackupService::FindRarExecutable;
  using TCloudBackupService::TCloudBackupService;
};

bool WriteRandomFile(const std::string& path, std::int64_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::mt19937_64 rng(20240305);
  std::vector<std::uint64_t> block(kMiB / sizeof(std::uint64_t));
  for (std::int64_t left = size; left > 0 && out;) {
    for (auto& word : block) word = rng();
    const std::int64_t n = std::min<std::int64_t>(left, kMiB);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    left -= n;
  }
  return static_cast<bool>(out.flush());
}

bool PlainCopy(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  std::vector<char> buffer(kMiB);
  while (in && out) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    out.write(buffer.data(), in.gcount());
  }
  return in.eof() && static_cast<bool>(out.flush());
}

int Run(const std::map<std::string, std::string>& options) {
  const std::int64_t sizeMiB = options.count("--size-mib") ? std::stoll(options.at("--size-mib")) : 1024;
  const int repeat = options.count("--repeat") ? std::max(1, std::stoi(options.at("--repeat"))) : 1;
  const std::string base = options.count("--dir") ? options.at("--dir") : platform::UserTempDir();
  const std::string root = JoinPath(base, "archive-bench-" + RandomAlphaNumeric(8));
  fs::create_directories(root + "/bin");
  fs::create_directories(root + "/tmp");
  fs::permissions(root + "/tmp", fs::perms::owner_all);
  fs::create_directories(root + "/work");

  int code = 0;
  {
    TConfigLocations locations;
    locations.ExecutableDir = root + "/bin";
    locations.ProgramData = root + "/programdata";
    locations.AppData = root + "/appdata";
    TAppConfig config(locations);
    TEnv env(config, TDeploymentSettings(), SystemClock(), platform::SystemProcessRunner(), root + "/bin",
             root + "/tmp");
    TArchiveProbe engine(TMSSQLBackupConfig(), env);

    TBackupPlan plan;
    plan.DatabaseName = "Bench";
    plan.UseRarEncryption = true;
    plan.RarPassword = "bench-Parola-2024";
    plan.RarSplitVolumeMB = 256;

    const std::string source = root + "/work/Bench_.bak";
    const std::string copy = root + "/work/copy.bin";
    std::cerr << "writing " << sizeMiB << " MiB of random bytes" << std::endl;
    if (!WriteRandomFile(source, sizeMiB * kMiB)) {
      std::cerr << "cannot write " << source << std::endl;
      fs::remove_all(root);
      return 1;
    }
    std::cerr << "archiver: " << engine.FindRarExecutable() << std::endl;

    double bestArchive = 0, bestCopy = 0;
    size_t volumes = 0;
    for (int round = 0; round < repeat && code == 0; ++round) {
      auto start = std::chrono::steady_clock::now();
      if (!PlainCopy(source, copy)) code = 1;
      const double copySeconds = Seconds(start);
      fs::remove(copy);

      std::vector<std::string> files;
      std::string error;
      start = std::chrono::steady_clock::now();
      if (!engine.CreateRarArchive(plan, source, files, error)) {
        std::cerr << "archive failed: " << error << std::endl;
        code = 1;
        break;
      }
      const double archiveSeconds = Seconds(start);
      volumes = files.size();
      std::int64_t archived = 0;
      for (const auto& file : files) archived += FileSizeOf(file);
      for (const auto& file : files) fs::remove(file);
      std::cerr << "round " << round + 1 << ": archive " << archiveSeconds << " s (" << volumes << " volumes, "
                << archived / kMiB << " MiB), copy " << copySeconds << " s" << std::endl;
      const double archiveRate = static_cast<double>(sizeMiB) / archiveSeconds;
      const double copyRate = static_cast<double>(sizeMiB) / copySeconds;
      bestArchive = std::max(bestArchive, archiveRate);
      bestCopy = std::max(bestCopy, copyRate);
    }
    if (code == 0) {
      const long peak = std::max(platform::PeakResidentKiB(), platform::PeakChildResidentKiB());
      char line[512];
      std::snprintf(line, sizeof line,
                    "{\"op\":\"archive\",\"size_mib\":%lld,\"volumes\":%zu,\"mib_s\":%.1f,\"cp_mib_s\":%.1f,"
                    "\"ratio\":%.2f,\"peak_rss_mib\":%.1f}",
                    static_cast<long long>(sizeMiB), volumes, bestArchive, bestCopy, bestArchive / bestCopy,
                    static_cast<double>(peak) / 1024.0);
      std::cout << line << std::endl;
    }
  }
  fs::remove_all(root);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) != "archive") {
    std::cerr << "usage: archive_bench archive --size-mib N [--repeat R] [--dir D]" << std::endl;
    return 2;
  }
  return Run(Options(argc, argv, 2));
}
