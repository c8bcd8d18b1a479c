// Bringing a backup down: every file into the private work folder, checked
// against Drive's MD5, the volumes of a split archive matched to the chosen
// version, joined and extracted with the password on standard input.
#include "engine/WorkFolderFiles.h"
#include "engine/uFileHasher.h"
#include "foundation/AppError.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "restore/RestoreEngine.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace calvora {
namespace {

constexpr size_t kOutputLogLimit = 2000;

std::string Tail(const std::string& output) {
  std::string text = output.size() > kOutputLogLimit ? output.substr(output.size() - kOutputLogLimit) : output;
  return Trim(SanitizeUtf8(text));
}

std::string FileMagic(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char buffer[8] = {};
  in.read(buffer, sizeof buffer);
  return std::string(buffer, static_cast<size_t>(in.gcount()));
}

bool IsRarFormat(const std::string& path) { return StartsWith(FileMagic(path), "Rar!\x1a\x07"); }

// Regular files (no links) directly in the folder.
std::vector<std::string> PlainFiles(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::error_code statusError;
    if (std::filesystem::symlink_status(entry.path(), statusError).type() == std::filesystem::file_type::regular)
      out.push_back(entry.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

void AppendFile(std::ofstream& out, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EFileError("Dosya okunamadi: " + path);
  std::vector<char> block(1 << 20);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    if (in.gcount() > 0) out.write(block.data(), in.gcount());
  }
  if (!out) throw EFileError("Parcalar birlestirilemedi: " + path);
}

}  // namespace

void TRestoreEngine::FetchFile(const std::string& FileID, const std::string& Name, const std::string& RevisionID,
                               const std::string& ExpectedMD5, const std::string& DestPath) {
  CheckCancelled();
  Report("Indirme", "Drive'dan indiriliyor: " + Name);
  LogInfoFmt("Geri yukleme: indiriliyor %s (%s)", Name, RevisionID.empty() ? "guncel" : "surum " + RevisionID);
  const TUploadProgress progress = [&](std::int64_t done, std::int64_t total) {
    Report("Indirme", "Drive'dan indiriliyor: " + Name, done, total);
  };
  const bool ok = RevisionID.empty() ? FGoogleDrive->DownloadFile(FileID, DestPath, progress)
                                     : FGoogleDrive->DownloadFileRevision(FileID, RevisionID, DestPath, progress);
  if (!ok) throw EAppError("Drive dosyasi indirilemedi: " + Name);
  CheckCancelled();
  if (IsBlank(ExpectedMD5)) {
    LogWarnFmt("Geri yukleme: Drive %s icin MD5 bildirmedi; icerik dogrulanamadi.", Name);
    return;
  }
  Report("MD5", "Indirilen dosya dogrulaniyor: " + Name);
  const std::string actual = FileMD5(DestPath);
  if (!SameText(actual, Trim(ExpectedMD5))) {
    DeleteFileIfExists(DestPath);
    throw EAppError(Fmt("Indirilen dosya bozuk (MD5 uyusmuyor): %s", Name));
  }
  LogInfoFmt("Geri yukleme: MD5 dogrulandi %s", Name);
}

std::string TRestoreEngine::ArchivePassword(const TRestoreRequest& Request) const {
  if (!Request.ArchivePassword.empty()) return Request.ArchivePassword;
  // On the machine that made the backup the plan file still knows it.
  try {
    for (const TBackupPlan& plan : TBackupPlanStore(FEnv.DataDir()).LoadPlans())
      if (SameText(plan.ID, Request.Plan.Plan.ID)) return plan.RarPassword;
  } catch (const std::exception& e) {
    LogWarnFmt("Geri yukleme: yerel plan dosyasi okunamadi (%s)", e.what());
  }
  return std::string();
}

std::string TRestoreEngine::ExtractArchive(const TRestoreRequest& Request, const std::vector<std::string>& Volumes,
                                           const std::string& WorkFolder) {
  CheckCancelled();
  const std::string password = ArchivePassword(Request);
  if (password.empty() && Request.Plan.ArchiveEncrypted())
    throw EAppError("Arsiv sifreli; geri yukleme icin arsiv sifresini girin.");
  const bool rarFormat = IsRarFormat(Volumes.front());
  std::string tool = FindRarExecutable();
  const bool sevenZip = StartsText(ExtractFileName(tool), "7z");
  if (!rarFormat && !sevenZip) {
    for (const char* name : {"7zz", "7z"}) {
      const std::string found = platform::FindOnPath(name);
      if (!found.empty()) tool = found;
    }
    if (!StartsText(ExtractFileName(tool), "7z")) throw EAppError("Arsivi acmak icin 7-Zip (7zz/7z) kurulu olmali.");
  }
  const bool useSevenZip = StartsText(ExtractFileName(tool), "7z");

  std::string archive = Volumes.front();
  if (!rarFormat && Volumes.size() > 1) {
    // 7-Zip's volumes are plain pieces of one archive.
    Report("Arsiv", Fmt("%d parca birlestiriliyor.", Volumes.size()));
    archive = JoinPath(WorkFolder, "joined.7z");
    std::ofstream out(archive, std::ios::binary | std::ios::trunc);
    for (const std::string& volume : Volumes) {
      CheckCancelled();
      AppendFile(out, volume);
    }
    out.close();
    if (!out) throw EFileError("Parcalar birlestirilemedi: " + archive);
    LogInfoFmt("Geri yukleme: %d parca birlestirildi.", Volumes.size());
  }

  const std::string outFolder = JoinPath(WorkFolder, "extracted");
  if (!ForceDirectories(outFolder)) throw EFileError("Klasor olusturulamadi: " + outFolder);
  Report("Arsiv", "Arsiv aciliyor: " + ExtractFileName(Volumes.front()));
  platform::ProcessRequest request;
  request.program = tool;
  request.captureOutput = true;
  request.workingDirectory = outFolder;
  // 7-Zip asks for the password of an encrypted archive and reads it from
  // standard input ("-p" alone would mean an empty one); without a password
  // it reads an empty line instead of waiting on a terminal.
  request.standardInput = password + "\n";
  if (useSevenZip) {
    request.arguments = {"x", "-y", "-bd", "-o" + outFolder, "--", archive};
    request.environment = {{"LC_ALL", "C.UTF-8"}};
  } else {
    request.arguments = {"x", "-y", "-idq", "-o+", "-p", archive, IncludeTrailingSeparator(outFolder)};
  }
  platform::ProcessResult run = FEnv.Processes().Run(request);
  if (!run.started) throw EAppError("Arsivleyici baslatilamadi: " + run.error);
  if (run.exitCode != 0) {
    if (!IsBlank(run.output)) LogWarnFmt("Arsivleyici ciktisi: %s", Tail(run.output));
    const bool wrongPassword = ContainsText(run.output, "password") || ContainsText(run.output, "sifre");
    throw EAppError(wrongPassword ? "Arsiv acilamadi: arsiv sifresi yanlis."
                                  : Fmt("Arsiv acilamadi. Cikis kodu: %d", run.exitCode));
  }
  std::vector<std::string> files = PlainFiles(outFolder);
  auto backup = std::find_if(files.begin(), files.end(), [](const std::string& f) {
    const std::string ext = LowerAscii(ExtractFileExt(f));
    return ext == ".bak" || ext == ".fbk";
  });
  if (backup == files.end()) throw EAppError("Arsivde yedek dosyasi (.bak/.fbk) bulunamadi.");
  LogInfoFmt("Geri yukleme: arsiv acildi, yedek %s", ExtractFileName(*backup));
  return *backup;
}

TFetchedBackup TRestoreEngine::FetchBackup(const TRestoreRequest& Request, const TRestoreBackup& Backup,
                                           const std::string& RevisionID, const std::string& WorkFolder) {
  if (Backup.Files.empty()) throw EAppError("Geri yuklenecek yedek secilmedi.");
  EnsureGoogleToken();
  const std::string downloads = JoinPath(WorkFolder, "download");
  if (!ForceDirectories(downloads)) throw EFileError("Klasor olusturulamadi: " + downloads);

  std::vector<TVolumeVersion> parts;
  TDateTime modified = Backup.Files.front().ModifiedTime;
  if (Backup.Files.size() == 1) {
    std::string md5 = Backup.Files.front().MD5;
    if (!RevisionID.empty()) {
      bool found = false;
      for (const TDriveRevisionInfo& r : FGoogleDrive->ListFileRevisions(Backup.Files.front().FileID))
        if (r.RevisionID == RevisionID) {
          md5 = r.MD5;
          modified = r.ModifiedTime;
          found = true;
        }
      if (!found) throw EAppError("Secilen surum Drive'da bulunamadi: " + RevisionID);
    }
    parts.push_back({Backup.Files.front(), RevisionID, md5});
  } else {
    std::vector<std::vector<TDriveRevisionInfo>> revisions;
    for (const TDriveFileInfo& file : Backup.Files) revisions.push_back(FGoogleDrive->ListFileRevisions(file.FileID));
    parts = MatchVolumeVersions(Backup.Files, revisions, RevisionID);
    if (!RevisionID.empty())
      for (const TDriveRevisionInfo& r : revisions.front())
        if (r.RevisionID == RevisionID) modified = r.ModifiedTime;
    LogInfoFmt("Geri yukleme: %s icin %d parca secildi.", Backup.Name, parts.size());
  }

  std::vector<std::string> locals;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string local = JoinPath(downloads, Fmt("%03d_%s", i + 1, SafeLocalFileName(parts[i].File.Name)));
    FetchFile(parts[i].File.FileID, parts[i].File.Name, parts[i].RevisionID, parts[i].MD5, local);
    locals.push_back(local);
  }
  const bool archived = EndsText(Backup.Files.front().Name, ".rar");
  if (!archived) return TFetchedBackup{locals.front(), modified};
  if (parts.size() > 1 && IsRarFormat(locals.front())) {
    // rar finds its volumes by their names.
    for (size_t i = 0; i < locals.size(); ++i) {
      const std::string named = JoinPath(downloads, SafeLocalFileName(parts[i].File.Name));
      RenameFileReplacing(locals[i], named);
      locals[i] = named;
    }
  }
  return TFetchedBackup{ExtractArchive(Request, locals, WorkFolder), modified};
}

}  // namespace calvora
