// Archive benchmark: the upload pipeline's archiver on an incompressible
// backup and on a compressible one (rows of a table dump), at the engine's
// own setting and at each 7-Zip level given, with the time each needs to get
// the backup into Drive.
//
//   archive_bench archive --size-mib N [--repeat R] [--dir D] [--levels L]
//
// L: comma-separated 7-Zip settings, each a level with "/st" for one thread
// only (default "0,1,1/st,5,deflate1"). Every run archives and encrypts the
// way a plan with a password and 256 MiB volumes does, through the engine's
// own archive step; for a level the benchmark only swaps the level and
// thread switches in the command line the engine builds. A plain read/write
// copy of the same file shows the limit of this machine's disk.
//
// Time to Drive = archive time + archive size / link rate, for a link of
// 8.7 MB/s (what Google accepts from one user over a day) and of 2 MB/s (an
// office uplink). The level picked is the one with the shortest time for
// the compressible backup whose time for the incompressible one stays
// within 10% of storing it at both rates.
//
// Peak memory: the benchmark's own (VmHWM) and the archiver's, read per run
// by a helper (archive_bench peak-of FILE -- program args) that forks the
// archiver and takes wait4's figure of that one child; see
// platform::RunMeasuringPeak for why neither getrusage nor a spawned child
// will do. The last output line is one JSON object.
#include "BenchSupport.h"
#include "engine/uCloudBackup.h"
#include "foundation/JsonText.h"
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
constexpr double kGoogleLink = 8.7e6;  // bytes per second
constexpr double kOfficeLink = 2e6;
constexpr double kAllowedLoss = 1.10;  // against storing, on incompressible input

// The engine with its archive step reachable.
class TArchiveProbe : public TCloudBackupService {
 public:
  using TCloudBackupService::CreateRarArchive;
  using TCloudBackupService::FindRarExecutable;
  using TCloudBackupService::TCloudBackupService;
};

// Runs every program through this benchmark's peak-of helper, with some
// switches of the command line replaced, and keeps the last peak read.
class TMeasuringRunner : public platform::ProcessRunner {
 public:
  TMeasuringRunner(std::string self, std::string peakFile) : self_(std::move(self)), peakFile_(std::move(peakFile)) {}

  // Arguments such as "-mx=5": each replaces the argument with the same
  // switch (the text before "="), or goes before "--" when there is none.
  std::vector<std::string> overrides;
  long lastPeakKiB = -1;
  long lastHelperKiB = -1;

  platform::ProcessResult Run(const platform::ProcessRequest& request) override {
    platform::ProcessRequest wrapped = request;
    std::string program = platform::FindOnPath(request.program);
    if (program.empty()) program = request.program;
    wrapped.program = self_;
    wrapped.arguments = {"peak-of", peakFile_, "--", program};
    for (const std::string& argument : Overridden(request.arguments)) wrapped.arguments.push_back(argument);
    lastPeakKiB = lastHelperKiB = -1;
    platform::ProcessResult result = platform::SystemProcessRunner().Run(wrapped);
    std::ifstream in(peakFile_);
    in >> lastPeakKiB >> lastHelperKiB;
    return result;
  }

  bool StartDetached(const platform::ProcessRequest& request, std::string& error) override {
    return platform::SystemProcessRunner().StartDetached(request, error);
  }

 private:
  static std::string Switch(const std::string& argument) { return argument.substr(0, argument.find('=')); }

  std::vector<std::string> Overridden(std::vector<std::string> arguments) const {
    for (const std::string& o : overrides) {
      auto same = std::find_if(arguments.begin(), arguments.end(),
                               [&](const std::string& a) { return a.rfind("-", 0) == 0 && Switch(a) == Switch(o); });
      if (same != arguments.end()) {
        *same = o;
        continue;
      }
      auto end = std::find(arguments.begin(), arguments.end(), "--");
      arguments.insert(end, o);
    }
    return arguments;
  }

  std::string self_;
  std::string peakFile_;
};

// archive_bench peak-of FILE -- program args: runs the program and writes
// "<peak KiB> <helper KiB>" to FILE; exits with the program's code.
int PeakOf(int argc, char** argv) {
  if (argc < 5 || std::string(argv[3]) != "--") return 2;
  std::vector<std::string> arguments(argv + 5, argv + argc);
  platform::ChildPeak peak = platform::RunMeasuringPeak(argv[4], arguments);
  std::ofstream(argv[2], std::ios::trunc) << peak.peakKiB << " " << peak.helperKiB << "\n";
  if (!peak.started) {
    std::cerr << argv[4] << ": " << peak.error << std::endl;
    return 127;
  }
  return peak.exitCode;
}

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

// Rows the way a table dump reads: the same columns over and over, with
// numbers, dates, codes, identifiers and words that change from row to row.
// An LZMA archive of it is about a quarter of its size, near what an
// uncompressed database backup gives.
bool WriteDumpFile(const std::string& path, std::int64_t size) {
  static const char* const kWords[] = {
      "fatura", "iade",   "tahsilat", "odeme",  "havale",  "cek",      "senet",   "kasa",     "banka",
      "virman", "acilis", "kapanis",  "mahsup", "stok",    "sevk",     "irsaliye", "siparis", "teklif",
      "indirim", "kdv",   "tevkifat", "avans",  "masraf",  "yakit",    "kira",    "maas",     "prim",
      "ankara", "istanbul", "izmir",  "bursa",  "konya",   "adana",    "sube",    "merkez",   "depo",
      "musteri", "tedarikci", "nakliye", "sigorta"};
  constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::mt19937_64 rng(20240305);
  auto below = [&](std::uint64_t n) { return static_cast<unsigned long long>(rng() % n); };
  std::string block;
  block.reserve(static_cast<size_t>(kMiB) + 512);
  char row[512];
  long long id = 0;
  for (std::int64_t left = size; left > 0 && out;) {
    block.clear();
    while (block.size() < static_cast<size_t>(kMiB)) {
      const int n = std::snprintf(
          row, sizeof row,
          "INSERT INTO [dbo].[CariHareket] ([ID],[CariKod],[Tarih],[Tutar],[Belge],[Aciklama],[Miktar],[Kur]) "
          "VALUES (%lld,'C%05llu','2024-%02llu-%02llu %02llu:%02llu:%02llu',%llu.%02llu,"
          "'%08llX-%04llX-%04llX-%04llX-%012llX',N'%s %s %s %llu',%llu,%llu.%04llu);\n",
          ++id, below(100000), below(12) + 1, below(28) + 1, below(24), below(60), below(60), below(1000000),
          below(100), below(1ULL << 32), below(1ULL << 16), below(1ULL << 16), below(1ULL << 16),
          below(1ULL << 48), kWords[below(kWordCount)], kWords[below(kWordCount)], kWords[below(kWordCount)],
          below(1000), below(1000000), below(100), below(10000));
      block.append(row, static_cast<size_t>(n));
    }
    const std::int64_t n = std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size()));
    out.write(block.data(), static_cast<std::streamsize>(n));
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

struct TSetting {
  std::string name;                    // "engine", "mx=5", "mx=5 mmt=off"
  std::vector<std::string> overrides;  // switches swapped into the engine's command line
};

// "0", "5" (a level), "5/st" (a level on one thread), "deflate1" (the
// Deflate method at a level instead of LZMA2).
std::vector<TSetting> Settings(const std::string& levels) {
  std::vector<TSetting> settings = {{"engine", {}}};
  for (const std::string& item : Split(levels, ',')) {
    const std::string text = Trim(item);
    if (text.empty()) continue;
    if (StartsText(text, "deflate")) {
      const std::string level = text.substr(7);
      settings.push_back({"deflate mx=" + level, {"-m0=Deflate", "-mx=" + level}});
      continue;
    }
    const bool single = EndsText(text, "/st");
    const std::string level = single ? text.substr(0, text.size() - 3) : text;
    TSetting s{"mx=" + level, {"-mx=" + level, single ? "-mmt=off" : "-mmt=on"}};
    if (single) s.name += " mmt=off";
    settings.push_back(s);
  }
  return settings;
}

struct TInput {
  std::string name;
  std::string path;
};

struct TRow {
  std::string setting;
  std::string input;
  double seconds = 0;       // best round
  std::int64_t bytes = 0;   // archive size, all volumes
  size_t volumes = 0;
  long peakKiB = -1;        // the archiver's, largest round
  long helperKiB = -1;
  double MiBs(std::int64_t sizeMiB) const { return static_cast<double>(sizeMiB) / seconds; }
  double Ratio(std::int64_t sizeMiB) const { return static_cast<double>(bytes) / static_cast<double>(sizeMiB * kMiB); }
  double DriveSeconds(double link) const { return seconds + static_cast<double>(bytes) / link; }
};

bool Measure(TArchiveProbe& engine, TMeasuringRunner& runner, const TBackupPlan& plan, const TSetting& setting,
             const TInput& input, int repeat, TRow& row) {
  row.setting = setting.name;
  row.input = input.name;
  runner.overrides = setting.overrides;
  for (int round = 0; round < repeat; ++round) {
    std::vector<std::string> files;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    if (!engine.CreateRarArchive(plan, input.path, files, error)) {
      std::cerr << setting.name << " on " << input.name << " failed: " << error << std::endl;
      return false;
    }
    const double seconds = Seconds(start);
    std::int64_t bytes = 0;
    for (const auto& file : files) bytes += FileSizeOf(file);
    for (const auto& file : files) fs::remove(file);
    if (round == 0 || seconds < row.seconds) row.seconds = seconds;
    row.bytes = bytes;
    row.volumes = files.size();
    row.peakKiB = std::max(row.peakKiB, runner.lastPeakKiB);
    row.helperKiB = std::max(row.helperKiB, runner.lastHelperKiB);
  }
  return true;
}

const TRow* Find(const std::vector<TRow>& rows, const std::string& setting, const std::string& input) {
  for (const TRow& row : rows)
    if (row.setting == setting && row.input == input) return &row;
  return nullptr;
}

// The setting with the shortest time to Drive over `link` for the
// compressible backup, among those whose time for the incompressible one
// stays within the allowed loss against storing it, over either link; empty
// when storing was not measured.
std::string Pick(const std::vector<TRow>& rows, const std::vector<TSetting>& settings, double link) {
  const TRow* storeRandom = Find(rows, "mx=0", "random");
  if (!storeRandom) return {};
  std::string best;
  double bestSeconds = 0;
  for (const TSetting& s : settings) {
    if (s.name == "engine") continue;
    const TRow* random = Find(rows, s.name, "random");
    const TRow* dump = Find(rows, s.name, "dump");
    if (!random || !dump) continue;
    bool allowed = true;
    for (double rate : {kGoogleLink, kOfficeLink})
      allowed = allowed && random->DriveSeconds(rate) <= kAllowedLoss * storeRandom->DriveSeconds(rate);
    if (allowed && (best.empty() || dump->DriveSeconds(link) < bestSeconds)) {
      best = s.name;
      bestSeconds = dump->DriveSeconds(link);
    }
  }
  return best;
}

int Run(const std::map<std::string, std::string>& options) {
  const std::int64_t sizeMiB = options.count("--size-mib") ? std::stoll(options.at("--size-mib")) : 1024;
  const int repeat = options.count("--repeat") ? std::max(1, std::stoi(options.at("--repeat"))) : 1;
  const std::string base = options.count("--dir") ? options.at("--dir") : platform::UserTempDir();
  const std::string levels = options.count("--levels") ? options.at("--levels") : "0,1,1/st,5,deflate1";
  bench::TScratchFolder root{JoinPath(base, "archive-bench-" + RandomAlphaNumeric(8))};
  fs::create_directories(root.path + "/bin");
  fs::create_directories(root.path + "/tmp");
  fs::permissions(root.path + "/tmp", fs::perms::owner_all);
  fs::create_directories(root.path + "/work");

  TConfigLocations locations;
  locations.ExecutableDir = root.path + "/bin";
  locations.ProgramData = root.path + "/programdata";
  locations.AppData = root.path + "/appdata";
  TAppConfig config(locations);
  TMeasuringRunner runner(platform::ExecutablePath(), root.path + "/tmp/peak.txt");
  TEnv env(config, TDeploymentSettings(), SystemClock(), runner, root.path + "/bin", root.path + "/tmp");
  TArchiveProbe engine(TMSSQLBackupConfig(), env);
  const std::string tool = engine.FindRarExecutable();
  const bool sevenZip = StartsText(ExtractFileName(tool), "7z");

  TBackupPlan plan;
  plan.DatabaseName = "Bench";
  plan.UseRarEncryption = true;
  plan.RarPassword = "bench-Parola-2024";
  plan.RarSplitVolumeMB = 256;

  const std::vector<TInput> inputs = {{"random", root.path + "/work/Bench_.bak"},
                                      {"dump", root.path + "/work/Dump_.bak"}};
  std::cerr << "writing " << sizeMiB << " MiB of random bytes and " << sizeMiB << " MiB of table rows" << std::endl;
  if (!WriteRandomFile(inputs[0].path, sizeMiB * kMiB) || !WriteDumpFile(inputs[1].path, sizeMiB * kMiB)) {
    std::cerr << "cannot write the inputs in " << root.path << std::endl;
    return 1;
  }
  std::cerr << "archiver: " << tool << std::endl;

  double copyRate = 0;
  for (int round = 0; round < repeat; ++round) {
    const auto start = std::chrono::steady_clock::now();
    if (!PlainCopy(inputs[0].path, root.path + "/work/copy.bin")) return 1;
    copyRate = std::max(copyRate, static_cast<double>(sizeMiB) / Seconds(start));
    fs::remove(root.path + "/work/copy.bin");
  }

  std::vector<TSetting> settings = sevenZip ? Settings(levels) : std::vector<TSetting>{{"engine", {}}};
  std::vector<TRow> rows;
  for (const TSetting& setting : settings) {
    for (const TInput& input : inputs) {
      TRow row;
      if (!Measure(engine, runner, plan, setting, input, repeat, row)) return 1;
      std::cerr << setting.name << " " << input.name << ": " << row.seconds << " s" << std::endl;
      rows.push_back(row);
    }
  }

  std::printf("plain copy: %.1f MiB/s; input %lld MiB each; archiver %s\n", copyRate,
              static_cast<long long>(sizeMiB), tool.c_str());
  std::printf("%-14s %-7s %9s %7s %11s %11s %12s\n", "setting", "input", "MiB/s", "size", "drive@8.7", "drive@2",
              "archiver MiB");
  TJson table = TJson::array();
  for (const TRow& row : rows) {
    std::printf("%-14s %-7s %9.1f %6.1f%% %10.1fs %10.1fs %12.1f\n", row.setting.c_str(), row.input.c_str(),
                row.MiBs(sizeMiB), 100.0 * row.Ratio(sizeMiB), row.DriveSeconds(kGoogleLink),
                row.DriveSeconds(kOfficeLink), static_cast<double>(row.peakKiB) / 1024.0);
    table.push_back({{"setting", row.setting},
                     {"input", row.input},
                     {"mib_s", row.MiBs(sizeMiB)},
                     {"size_ratio", row.Ratio(sizeMiB)},
                     {"drive_s_8_7", row.DriveSeconds(kGoogleLink)},
                     {"drive_s_2", row.DriveSeconds(kOfficeLink)},
                     {"volumes", row.volumes},
                     {"archiver_peak_rss_mib", static_cast<double>(row.peakKiB) / 1024.0}});
  }
  const std::string pick = Pick(rows, settings, kGoogleLink);
  const std::string pickOffice = Pick(rows, settings, kOfficeLink);
  long helper = -1;
  for (const TRow& row : rows) helper = std::max(helper, row.helperKiB);
  const TRow& engineRandom = *Find(rows, "engine", "random");
  std::printf("pick: %s at 8.7 MB/s, %s at 2 MB/s (shortest time to Drive for the dump, random bytes within %.0f%% "
              "of storing them)\n",
              pick.empty() ? "-" : pick.c_str(), pickOffice.empty() ? "-" : pickOffice.c_str(),
              (kAllowedLoss - 1) * 100);
  std::printf("archiver peaks carry at most %.1f MiB of the helper that forks it (its resident set then)\n",
              static_cast<double>(helper) / 1024.0);

  TJson summary = {{"op", "archive"},
                   {"size_mib", sizeMiB},
                   {"archiver", ExtractFileName(tool)},
                   {"volumes", engineRandom.volumes},
                   {"mib_s", engineRandom.MiBs(sizeMiB)},
                   {"cp_mib_s", copyRate},
                   {"ratio", engineRandom.MiBs(sizeMiB) / copyRate},
                   {"bench_peak_rss_mib", static_cast<double>(platform::PeakResidentKiB()) / 1024.0},
                   {"archiver_peak_rss_mib", static_cast<double>(engineRandom.peakKiB) / 1024.0},
                   {"helper_rss_mib", static_cast<double>(helper) / 1024.0},
                   {"pick", pick},
                   {"pick_2", pickOffice},
                   {"rows", table}};
  std::cout << JsonToText(summary) << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "peak-of") return PeakOf(argc, argv);
  if (argc < 2 || std::string(argv[1]) != "archive") {
    std::cerr << "usage: archive_bench archive --size-mib N [--repeat R] [--dir D] [--levels L]" << std::endl;
    return 2;
  }
  return Run(Options(argc, argv, 2));
}
