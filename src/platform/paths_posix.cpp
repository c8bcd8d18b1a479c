#include "platform/paths.h"

#include "platform/private_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>

namespace calvora::platform {

std::optional<std::string> GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string EnvOr(const std::string& name, const std::string& fallback) {
  auto value = GetEnv(name);
  return value ? *value : fallback;
}

std::string ExecutablePath() {
  std::error_code ec;
  auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : path.string();
}

std::string ExecutableDir() {
  return std::filesystem::path(ExecutablePath()).parent_path().string();
}

std::string ProgramDataDir() {
  auto value = GetEnv("PROGRAMDATA");
  return value ? *value : "/var/lib";
}

static std::string HomeDir() {
  if (auto home = GetEnv("HOME"); home && !home->empty()) return *home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

std::string AppDataDir() {
  if (auto value = GetEnv("APPDATA")) return *value;
  if (auto xdg = GetEnv("XDG_CONFIG_HOME"); xdg && !xdg->empty()) return *xdg;
  return HomeDir() + "/.config";
}

std::string UserTempDir() {
  std::string base = EnvOr("TMPDIR", "");
  if (base.empty()) base = "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const std::string dir = base + "/calvora-" + std::to_string(getuid());
  std::string error;
  if (EnsurePrivateFolder(dir, error)) return dir;
  // Someone else holds the name: a fresh folder of our own, never the
  // shared folder itself.
  return MakeUniquePrivateFolder(dir + "-", error);
}

std::string ComputerName() {
  if (auto value = GetEnv("COMPUTERNAME"); value && !value->empty()) return *value;
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

std::string SystemErrorText(int errorNumber) {
  char buffer[256] = {};
  // GNU strerror_r returns the text pointer.
  return strerror_r(errorNumber, buffer, sizeof buffer);
}

std::string LastSystemErrorText() { return SystemErrorText(errno); }

char PathSeparator() { return '/'; }

}  // namespace calvora::platform
