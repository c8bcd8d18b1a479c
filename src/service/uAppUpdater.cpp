#include "service/uAppUpdater.h"

#include "account/uFirebaseServiceAuth.h"
#include "foundation/AppError.h"
#include "foundation/DateTime.h"
#include "foundation/Format.h"
#include "foundation/IniFile.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "platform/http_client.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "service/uServiceManager.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <vector>

#ifndef CALVORA_VERSION
#define CALVORA_VERSION "0.0.0.0"
#endif

namespace calvora {
namespace fs = std::filesystem;

// The version marker of this executable. It is found by its needle (the
// bytes before the version text); the code below keeps the needle only in
// shifted form, so the marker is the one place of the file that holds it.
extern "C" [[gnu::used]] const char calvora_version_marker[] =
    "\x01\xC3" "CALVORA-FILE-VERSION" "\x02" CALVORA_VERSION;

namespace {

constexpr unsigned char kShiftedNeedle[] = {
    0x02, 0xC4, 'C' + 1, 'A' + 1, 'L' + 1, 'V' + 1, 'O' + 1, 'R' + 1, 'A' + 1, '-' + 1, 'F' + 1,
    'I' + 1, 'L' + 1, 'E' + 1, '-' + 1, 'V' + 1, 'E' + 1, 'R' + 1, 'S' + 1, 'I' + 1, 'O' + 1,
    'N' + 1, 0x03};
// Read at run time, so the compiler cannot fold the needle back into one
// constant.
volatile unsigned char g_needleShift = 1;

constexpr std::int64_t kMinExecutableSize = 65536;
constexpr size_t kMaxVersionTextLength = 64;

std::string MarkerNeedle() {
  std::string needle;
  for (unsigned char c : kShiftedNeedle) needle += static_cast<char>(c - g_needleShift);
  return needle;
}

// "a.b.c.d" from dotted numbers (missing parts 0); empty for anything else.
std::string NormalizeFileVersion(const std::string& text) {
  const std::vector<std::string> parts = Split(Trim(text), '.');
  if (parts.empty() || parts.size() > 4) return std::string();
  int numbers[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string part = Trim(parts[i]);
    if (part.empty() || !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        !TryParseInt(part, numbers[i]))
      return std::string();
  }
  return Fmt("%d.%d.%d.%d", numbers[0], numbers[1], numbers[2], numbers[3]);
}

// Member lookup as the account records are read, but the value only trimmed.
std::string ReadUpdateMember(const TJson& node, std::initializer_list<const char*> candidates) {
  if (!node.is_object()) return std::string();
  for (const char* candidate : candidates)
    for (auto it = node.begin(); it != node.end(); ++it)
      if (SameText(Trim(ReplaceAll(it.key(), "\"", "")), candidate)) return Trim(JsonValueText(it.value()));
  return std::string();
}

std::string TodayText(const TEnv& Env) { return FormatDateTime(Env.Now()).substr(0, 10); }

std::string StampText(TDateTime now) {
  const TDateTimeParts p = DecodeDateTime(now);
  return Fmt("%04d%02d%02d%02d%02d%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
}

bool HasElfMagic(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  if (!in.read(magic, 4)) return false;
  return magic[0] == '\x7F' && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F';
}

// Rename, or copy and delete when the two lie on different file systems.
void MoveReplacing(const std::string& from, const std::string& to, std::error_code& ec) {
  fs::rename(from, to, ec);
  if (ec == std::errc::cross_device_link) {
    ec.clear();
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::remove(from, ec);
  }
}

bool PathExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

std::string ShellQuote(const std::string& text) { return "'" + ReplaceAll(text, "'", "'\\''") + "'"; }

}  // namespace

std::string BuildVersionMarker(const std::string& Version) {
  std::string marker = MarkerNeedle() + Version;
  marker += '\0';
  return marker;
}

TUpdateInfo UpdateInfoFromJson(const TJson& Node) {
  TUpdateInfo info;
  info.Version = ReadUpdateMember(Node, {"Version", "Surum", "Versiyon"});
  info.ControlUrl = ReadUpdateMember(Node, {"ControlUrl", "KontrolUrl", "PanelUrl", "AppUrl"});
  info.ServiceUrl = ReadUpdateMember(Node, {"ServiceUrl", "ServisUrl"});
  const std::string enabled = ReadUpdateMember(Node, {"Enabled", "Aktif"});
  info.Enabled = enabled.empty() || SameText(enabled, "true") || SameText(enabled, "aktif") ||
                 SameText(enabled, "evet") || enabled == "1";
  info.Notes = ReadUpdateMember(Node, {"Notes", "Notlar", "Aciklama"});
  return info;
}

bool ReadUpdateInfo(TEnv& Env, TUpdateInfo& Info, std::string& Error) {
  Info = TUpdateInfo();
  Error.clear();
  TFirebaseResponse answer;
  try {
    if (!TFirebaseServiceAuth::Request(Env, "GET", "AppUpdate", nullptr, answer, Error)) return false;
  } catch (const std::exception& e) {
    Error = std::string("Guncelleme bilgisi okunamadi: ") + e.what();
    return false;
  }
  std::string refusal;
  if (IsDatabaseErrorAnswer(answer, refusal)) {
    Error = "Guncelleme bilgisi okunamadi: " + refusal;
    return false;
  }
  const std::string trimmed = Trim(answer.Body);
  if (trimmed.empty() || SameText(trimmed, "null")) {
    Error = "Firebase'de AppUpdate dugumu bulunamadi.";
    return false;
  }
  TJson node;
  if (!TryParseJson(trimmed, node) || !node.is_object()) {
    Error = "Guncelleme bilgisi beklenen formatta degil.";
    return false;
  }
  Info = UpdateInfoFromJson(node);
  if (Info.Version.empty()) {
    Error = "Guncelleme dugumunde surum bilgisi (Version) yok.";
    return false;
  }
  return true;
}

std::string GetFileVersionText(const std::string& FilePath) {
  std::ifstream in(FilePath, std::ios::binary);
  if (!in) return std::string();
  const std::string needle = MarkerNeedle();
  const std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end());
  std::vector<char> block(1 << 20);
  std::string window;  // the tail of the previous block + the current one
  std::int64_t windowStart = 0;
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const std::streamsize got = in.gcount();
    if (got <= 0) break;
    window.append(block.data(), static_cast<size_t>(got));
    auto hit = std::search(window.begin(), window.end(), searcher);
    if (hit != window.end()) {
      const std::int64_t offset = windowStart + (hit - window.begin()) + static_cast<std::int64_t>(needle.size());
      std::ifstream again(FilePath, std::ios::binary);
      again.seekg(offset);
      char text[kMaxVersionTextLength] = {};
      again.read(text, sizeof text);
      const std::string version(text, strnlen(text, static_cast<size_t>(again.gcount())));
      return NormalizeFileVersion(version);
    }
    const size_t keep = std::min(window.size(), needle.size() - 1);
    windowStart += static_cast<std::int64_t>(window.size() - keep);
    window.erase(0, window.size() - keep);
  }
  return std::string();
}

std::string GetCurrentVersionText() {
  const std::string version = GetFileVersionText(platform::ExecutablePath());
  return version.empty() ? std::string("0.0.0.0") : version;
}

int CompareVersionText(const std::string& A, const std::string& B) {
  const std::vector<std::string> a = Split(Trim(A), '.');
  const std::vector<std::string> b = Split(Trim(B), '.');
  auto part = [](const std::vector<std::string>& parts, size_t i) -> long long {
    long long value = 0;
    if (i >= parts.size() || !TryParseInt64(Trim(parts[i]), value)) return 0;
    return value;
  };
  for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    const long long x = part(a, i), y = part(b, i);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

bool IsUpdateNewer(const std::string& ExePath, const TUpdateInfo& Info) {
  if (Trim(Info.Version).empty()) return false;
  std::string current = GetFileVersionText(ExePath);
  if (current.empty()) current = "0.0.0.0";
  return CompareVersionText(Info.Version, current) > 0;
}

bool DownloadUpdateFile(const std::string& Address, const std::string& TargetFile, std::string& Error) {
  Error.clear();
  ForceDirectories(ExtractFileDir(TargetFile));
  DeleteFileIfExists(TargetFile);
  try {
    platform::HttpClient client;
    client.SetConnectTimeoutMs(30000);
    client.SetResponseTimeoutMs(600000);
    platform::HttpRequest request;
    request.method = "GET";
    request.url = Address;
    request.responseFile = TargetFile;
    const platform::HttpResponse response = client.Send(request);
    if (response.status != 200)
      Error = Fmt("Indirme basarisiz (HTTP %d): %s", response.status, Address);
    else if (FileSizeOf(TargetFile) < kMinExecutableSize)
      Error = "Indirilen dosya cok kucuk, gecerli bir uygulama dosyasi degil.";
    else if (!HasElfMagic(TargetFile))
      Error = "Indirilen dosya gecerli bir Windows uygulamasi degil.";
  } catch (const std::exception& e) {
    Error = std::string("Indirme hatasi: ") + e.what();
  }
  if (!Error.empty()) {
    DeleteFileIfExists(TargetFile);
    return false;
  }
  return true;
}

bool ReplaceExecutable(TEnv& Env, const std::string& ExePath, const std::string& NewFile, std::string& Error) {
  Error.clear();
  if (!FileExists(NewFile)) {
    Error = "Yeni surum dosyasi bulunamadi: " + NewFile;
    return false;
  }
  std::error_code ec;
  std::string backup = ExePath + ".old";
  if (PathExists(backup)) {
    std::error_code removeError;
    if (!fs::remove(backup, removeError) || removeError) backup = ExePath + "." + StampText(Env.Now()) + ".old";
  }

  const bool hadExecutable = PathExists(ExePath);
  fs::perms mode = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                   fs::perms::others_read | fs::perms::others_exec;
  if (hadExecutable) {
    if (auto st = fs::status(ExePath, ec); !ec) mode = st.permissions() | fs::perms::owner_exec;
    ec.clear();
    fs::rename(ExePath, backup, ec);
    if (ec) {
      Error = "Mevcut dosya yedeklenemedi: " + platform::SystemErrorText(ec.value());
      return false;
    }
  }
  MoveReplacing(NewFile, ExePath, ec);
  if (ec) {
    Error = "Yeni dosya yerine tasinamadi: " + platform::SystemErrorText(ec.value());
    std::error_code restore;
    if (hadExecutable && PathExists(backup)) fs::rename(backup, ExePath, restore);
    return false;
  }
  // A download arrives without the execute bits.
  fs::permissions(ExePath, mode, fs::perm_options::replace, ec);
  return true;
}

bool DownloadAndReplace(TEnv& Env, const std::string& ExePath, const std::string& Address, std::string& Error) {
  const std::string downloadFile = JoinPath(UpdateDownloadFolder(Env), ExtractFileName(ExePath) + ".download");
  bool ok = DownloadUpdateFile(Address, downloadFile, Error);
  if (ok) ok = ReplaceExecutable(Env, ExePath, downloadFile, Error);
  DeleteFileIfExists(downloadFile);
  return ok;
}

void CleanupOldExecutables(const std::string& Folder) {
  std::error_code ec;
  fs::directory_iterator it(Folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code entryError;
    if (!it->is_regular_file(entryError)) continue;
    if (!EndsText(it->path().filename().string(), ".old")) continue;
    fs::remove(it->path(), entryError);
  }
}

std::string UpdateStateFilePath(const TEnv& Env) { return JoinPath(Env.DataDir(), "update_state.ini"); }

std::string UpdateDownloadFolder(const TEnv& Env) { return JoinPath(Env.DataDir(), "updates"); }

bool ShouldCheckUpdatesToday(TEnv& Env, const std::string& Key) {
  return ReadIniFileValue(UpdateStateFilePath(Env), "UpdateCheck", Key) != TodayText(Env);
}

void RecordUpdateCheckDate(TEnv& Env, const std::string& Key) {
  ForceDirectories(Env.DataDir());
  WriteIniFileValue(UpdateStateFilePath(Env), "UpdateCheck", Key, TodayText(Env));
}

void RunServiceUpdateCheck(TEnv& Env, const std::function<void()>& OnBeforeRestart) {
  if (!ShouldCheckUpdatesToday(Env, kUpdateKeyService)) return;
  RecordUpdateCheckDate(Env, kUpdateKeyService);

  TUpdateInfo info;
  std::string error;
  if (!ReadUpdateInfo(Env, info, error)) {
    LogWarnFmt("Guncelleme kontrolu yapilamadi: %s", error);
    return;
  }
  if (!info.Enabled) {
    LogInfo("Uzaktan guncelleme devre disi (Enabled=false).");
    return;
  }
  // The package manager owns the executables of a packaged install: a new
  // version is announced, never written over them.
  if (IsPackageManagedProgramDir(Env.ProgramDir())) {
    if (IsUpdateNewer(GetServiceExePath(Env), info))
      LogInfoFmt("Yeni surum %s mevcut. Program paket yoneticisi ile kurulu; guncelleme paket yoneticisi ile "
                 "yapilmali.",
                 info.Version);
    return;
  }

  const std::string controlPath = JoinPath(Env.ProgramDir(), kControlExeName);
  if (!info.ControlUrl.empty() && FileExists(controlPath) && IsUpdateNewer(controlPath, info)) {
    if (DownloadAndReplace(Env, controlPath, info.ControlUrl, error))
      LogInfoFmt("Kontrol uygulamasi %s surumune guncellendi.", info.Version);
    else
      LogWarnFmt("Kontrol uygulamasi guncellenemedi: %s", error);
  }

  const std::string servicePath = GetServiceExePath(Env);
  bool serviceReplaced = false;
  if (!info.ServiceUrl.empty() && IsUpdateNewer(servicePath, info)) {
    if (DownloadAndReplace(Env, servicePath, info.ServiceUrl, error)) {
      serviceReplaced = true;
      LogInfoFmt("Servis %s surumune guncellendi, yeniden baslatiliyor.", info.Version);
    } else {
      LogWarnFmt("Servis guncellenemedi: %s", error);
    }
  }

  if (serviceReplaced) {
    if (OnBeforeRestart) OnBeforeRestart();
    if (!RestartServiceForUpdate(Env, error))
      LogWarnFmt("Servis yeniden baslatma komutu verilemedi: %s. Yeni surum bir sonraki servis baslangicinda "
                 "devreye girecek.",
                 error);
  }
}

std::string ServiceRestartCommand() {
  const std::string systemctl = ShellQuote(SystemctlProgram());
  return Fmt("%s stop %s; sleep 9; %s start %s", systemctl, kBackupServiceName, systemctl, kBackupServiceName);
}

bool RestartServiceForUpdate(TEnv& Env, std::string& Error) {
  Error.clear();
  platform::ProcessRequest request;
  request.program = "sh";
  request.arguments = {"-c", ServiceRestartCommand()};
  // StartDetached puts the command in a session of its own, so it outlives
  // the service it stops.
  return Env.Processes().StartDetached(request, Error);
}

}  // namespace calvora
