#include "FuzzSupport.h"

#include "foundation/Clock.h"
#include "foundation/TextFile.h"
#include "foundation/uSecureString.h"
#include "platform/process.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace calvora::fuzz {
namespace {

std::string* gScratch = nullptr;  // never freed: the exit handler below still needs it
pid_t gOwner = 0;

void RemoveScratch() {
  if (gScratch == nullptr || getpid() != gOwner) return;
  std::error_code ec;
  std::filesystem::remove_all(*gScratch, ec);
}

}  // namespace

const std::string& ScratchDir() {
  if (gScratch != nullptr) return *gScratch;
  const std::string base = DirectoryExists("/dev/shm") ? "/dev/shm" : "/tmp";
  std::string templ = base + "/calvora-fuzz-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) Fail("no scratch folder");
  gScratch = new std::string(templ);
  setenv("CALVORA_MACHINE_KEY_FILE", (templ + "/machine.key").c_str(), 1);
  gOwner = getpid();
  std::atexit(RemoveScratch);
  // The key exists from the start, as on an installed machine.
  ProtectSecret("x");
  return *gScratch;
}

TEnv& ScratchEnv() {
  struct TScratch {
    TConfigLocations locations;
    std::unique_ptr<TAppConfig> config;
    std::unique_ptr<TEnv> env;
  };
  static TScratch* scratch = [] {
    auto* s = new TScratch;
    const std::string root = ScratchDir() + "/env";
    ForceDirectories(root + "/bin");
    mkdir((root + "/tmp").c_str(), 0700);
    s->locations.ExecutableDir = root + "/bin";
    s->locations.ProgramData = root + "/programdata";
    s->locations.AppData = root + "/appdata";
    s->config = std::make_unique<TAppConfig>(s->locations);
    s->env = std::make_unique<TEnv>(*s->config, TDeploymentSettings(), SystemClock(), platform::SystemProcessRunner(),
                                    root + "/bin", root + "/tmp");
    return s;
  }();
  return *scratch->env;
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz property failed: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string Bytes(const uint8_t* data, size_t size) {
  return size == 0 ? std::string() : std::string(reinterpret_cast<const char*>(data), size);
}

std::vector<std::string> Parts(const std::string& input, size_t count) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (parts.size() + 1 < count) {
    const size_t nul = input.find('\0', start);
    if (nul == std::string::npos) break;
    parts.push_back(input.substr(start, nul - start));
    start = nul + 1;
  }
  parts.push_back(start <= input.size() ? input.substr(start) : std::string());
  parts.resize(count);
  return parts;
}

}  // namespace calvora::fuzz
