// From a backup file in the work folder to Google Drive: optional archive
// (encrypted, split into volumes), quota check, upload with retries that
// updates an existing Drive file in place, failure names, restore
// information and local clean-up.
#include "engine/uCloudBackup.h"

#include "engine/WorkFolderFiles.h"
#include "foundation/AppError.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <algorithm>
#include <fstream>

namespace calvora {
namespace {

constexpr std::int64_t kMiB = 1048576;
constexpr size_t kOutputLogLimit = 2000;

std::int64_t SplitSizeBytes(const TBackupPlan& Plan) { return static_cast<std::int64_t>(Plan.RarSplitVolumeMB) * kMiB; }

// Size of a file that must be readable for the upload. A file that cannot be
// opened raises the error a locked file gives, so the caller can fall back
// to a readable copy.
std::int64_t ReadableFileSize(const std::string& path) {
  if (!FileExists(path)) throw EAppError("Dosya bulunamadı: " + path);
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw EFileError("Dosya okunamadı: " + path + " (" + platform::LastSystemErrorText() + ")");
  return static_cast<std::int64_t>(in.tellg());
}

bool IsSevenZip(const std::string& tool) { return StartsText(ExtractFileName(tool), "7z"); }

std::string Tail(const std::string& output) {
  std::string text = output.size() > kOutputLogLimit ? output.substr(output.size() - kOutputLogLimit) : output;
  return Trim(SanitizeUtf8(text));
}

}  // namespace

std::string TCloudBackupService::FailedFileName(const std::string& FilePath) {
  const std::string ext = LowerAscii(ExtractFileExt(FilePath));
  if (ext == ".rar") return ChangeFileExt(FilePath, ".failed.rar");
  if (ext == ".fbk") return ChangeFileExt(FilePath, ".failed.fbk");
  return ChangeFileExt(FilePath, ".failed.bak");
}

int TCloudBackupService::RarVolumeNumber(const std::string& FilePath) {
  const std::string name = LowerAscii(ExtractFileName(FilePath));
  size_t pos = name.find(".part");
  if (pos == std::string::npos) return 0;
  pos += 5;
  long long value = 0;
  size_t end = pos;
  while (end < name.size() && name[end] >= '0' && name[end] <= '9' && end - pos < 9) ++end;
  if (end == pos || !TryParseInt64(name.substr(pos, end - pos), value)) return 0;
  return static_cast<int>(value);
}

std::string TCloudBackupService::FindRarExecutable() const {
  const std::string beside = JoinPath(FEnv.ProgramDir(), "rar");
  if (FileExists(beside)) return beside;
  for (const char* name : {"rar", "7zz", "7z"}) {
    std::string found = platform::FindOnPath(name);
    if (!found.empty()) return found;
  }
  return "rar";
}

bool TCloudBackupService::CreateRarArchive(const TBackupPlan& Plan, const std::string& Source,
                                           std::vector<std::string>& Files, std::string& Error) {
  Files.clear();
  Error.clear();
  if (!FileExists(Source)) {
    Error = "RAR arsivi icin backup dosyasi bulunamadi: " + Source;
    return false;
  }
  const std::int64_t splitSize = SplitSizeBytes(Plan);
  const bool split = Plan.RarSplitVolumeMB > 0 && FileSizeOf(Source) > splitSize;
  const std::string archive = ChangeFileExt(Source, ".rar");
  const std::string folder = ExtractFileDir(archive);
  const std::string baseName = ChangeFileExt(ExtractFileName(archive), "");
  const std::string volumeMask = LiteralMask(baseName) + ".part*.rar";
  const std::string tool = FindRarExecutable();
  const bool sevenZip = IsSevenZip(tool);
  // 7-Zip numbers its volumes "<archive>.001", "<archive>.002", ...
  const std::string rawVolumeMask = LiteralMask(ExtractFileName(archive)) + ".[0-9][0-9][0-9]*";

  auto removeOutputs = [&]() {
    DeleteFileOrThrow(archive);
    for (const std::string& file : FilesMatching(folder, volumeMask)) DeleteFileOrThrow(file);
    for (const std::string& file : FilesMatching(folder, rawVolumeMask)) DeleteFileOrThrow(file);
  };

  try {
    removeOutputs();

    // rar packs at its best level. 7-Zip stores: on a backup that is
    // compressed already each of its packing methods ran slower than the
    // link to Drive and added over a tenth to the time a backup needs to get
    // there (scripts/bench archive), while storing runs at the speed of a
    // plain copy. The password travels on standard input, never on the
    // command line.
    platform::ProcessRequest request;
    request.program = tool;
    request.captureOutput = true;
    const bool encrypt = !IsBlank(Plan.RarPassword);
    if (sevenZip) {
      request.arguments = {"a", "-t7z", "-mx=0", "-bd", "-y"};
      if (encrypt) {
        request.arguments.push_back("-mhe=on");
        request.arguments.push_back("-p");
        request.standardInput = Plan.RarPassword + "\n";
      }
      // The password is read as text of the locale: make that UTF-8.
      request.environment = {{"LC_ALL", "C.UTF-8"}};
    } else {
      request.arguments = {"a", "-ep", "-m5", "-idq"};
      if (encrypt) {
        request.arguments.push_back("-hp");
        request.standardInput = Plan.RarPassword + "\n" + Plan.RarPassword + "\n";
      }
    }
    if (split) request.arguments.push_back(Fmt("-v%dm", Plan.RarSplitVolumeMB));
    if (sevenZip) request.arguments.push_back("--");
    request.arguments.push_back(archive);
    request.arguments.push_back(Source);

    platform::ProcessResult run = FEnv.Processes().Run(request);
    if (!run.started) {
      Error = "RAR baslatilamadi. WinRAR/RAR kurulu olmali veya rar.exe uygulama klasorunde bulunmali. " + run.error;
      return false;
    }
    if (run.exitCode != 0) {
      if (!IsBlank(run.output)) LogWarnFmt("Arsivleyici ciktisi: %s", Tail(run.output));
      Error = Fmt("RAR arsivi olusturulamadi. Cikis kodu: %d", run.exitCode);
      try {
        removeOutputs();  // no half archive stays behind
      } catch (const std::exception& e) {
        LogException("Yarim kalan arsiv silinemedi", e);
      }
      return false;
    }

    if (sevenZip && split) {
      for (const std::string& raw : FilesMatching(folder, rawVolumeMask)) {
        long long number = 0;
        if (!TryParseInt64(ExtractFileExt(raw).substr(1), number)) continue;
        RenameFileReplacing(raw, JoinPath(folder, Fmt("%s.part%d.rar", baseName, number)));
      }
    }

    if (split) {
      Files = FilesMatching(folder, volumeMask);
      std::stable_sort(Files.begin(), Files.end(), [](const std::string& a, const std::string& b) {
        return RarVolumeNumber(a) < RarVolumeNumber(b);
      });
      if (Files.empty()) {
        Error = "RAR bolme etkin ancak parca dosyalari olusmadi: " + archive;
        return false;
      }
      return true;
    }
    if (!FileExists(archive)) {
      Error = Fmt("RAR arsivi olusturulamadi (dosya bulunamadi): %s", archive);
      return false;
    }
    Files.push_back(archive);
    return true;
  } catch (const std::exception& e) {
    Error = e.what();
    Files.clear();
    return false;
  }
}

bool TCloudBackupService::UploadBackup(const TBackupPlan& Plan, std::string& BackupFilePath, std::string& Message) {
  Message.clear();
  const std::string source = BackupFilePath;
  bool archived = false;
  bool useRar = Plan.UseRarEncryption;
  if (!useRar && Plan.RarSplitVolumeMB > 0 && FileExists(source)) useRar = FileSizeOf(source) > SplitSizeBytes(Plan);

  std::vector<std::string> files;
  if (useRar) {
    ReportProgress(Plan, "RAR Arsivleme", "Backup dosyasi RAR arsivine cevriliyor.", false, source);
    std::string error;
    if (CreateRarArchive(Plan, source, files, error)) {
      archived = true;
      LogInfoFmt("RAR arsivi olusturuldu (%d parca): %s", files.size(), source);
    } else if (Plan.UseRarEncryption) {
      Message = error;
      ReportProgress(Plan, "Hata", Message, false, source);
      return false;
    } else {
      LogWarnFmt("Otomatik RAR bolme basarisiz, ham dosya bolunmemis yuklenecek: %s", error);
      files = {source};
    }
  } else {
    files = {source};
  }

  BackupFilePath = files.front();
  ReportProgress(Plan, "Upload Hazir", Fmt("Drive yukleme hazirlaniyor (%d dosya).", files.size()), false,
                 BackupFilePath);

  std::vector<std::string> messages;
  bool allUploaded = true;
  std::string spare;
  for (size_t i = 0; i < files.size(); ++i) {
    std::string partMessage;
    const bool ok = UploadWithRetries(Plan, files[i], partMessage);
    messages.push_back(partMessage);
    if (ok) continue;
    allUploaded = false;
    if (FileExists(files[i])) {
      const std::string failedName = FailedFileName(files[i]);
      try {
        if (FileExists(failedName)) DeleteFileOrThrow(failedName);
        RenameFileReplacing(files[i], failedName);
        spare = failedName;
        if (i == 0) BackupFilePath = failedName;
      } catch (const std::exception& e) {
        LogException("Basarisiz backup dosyasi yeniden adlandirma hatasi", e);
      }
    }
    break;
  }
  Message = Join(messages, " | ");

  if (allUploaded) {
    if (files.size() > 1)
      ReportProgress(Plan, "Upload Tamamlandi", Fmt("%d parcanin tumu yuklendi.", files.size()), true, BackupFilePath);
    WriteRestoreMetadata(Plan, archived ? ChangeFileExt(source, ".rar") : source);
    if (Plan.DeleteLocalAfterUpload) {
      if (FileExists(files.front()))
        ReportProgress(Plan, "Son Temizlik", "Yukleme tamamlandi, yerel dosya(lar) siliniyor.", true, files.front());
      std::vector<std::string> removals = files;
      if (archived) removals.push_back(source);
      for (const std::string& file : removals)
        if (FileExists(file) && !DeleteFileIfExists(file)) LogWarnFmt("Yerel backup dosyasi silinemedi: %s", file);
    }
    return true;
  }

  // The file that just got its failure name stays for the next look.
  CleanupOldFailedFiles(Plan, spare.empty() ? BackupFilePath : spare);
  ReportProgress(Plan, "Hata", Message, false, BackupFilePath);
  return false;
}

bool TCloudBackupService::UploadWithRetries(const TBackupPlan& Plan, const std::string& FilePath,
                                            std::string& Message) {
  const int attempts = std::max(0, Plan.UploadRetryCount) + 1;
  for (int i = 1; i <= attempts; ++i) {
    LogInfoFmt("Drive upload denemesi %d/%d: %s", i, attempts, FilePath);
    ReportProgress(Plan, "Upload", Fmt("Drive upload denemesi %d/%d basladi.", i, attempts), false, FilePath);
    if (UploadOneFile(Plan, FilePath, Message)) {
      ReportProgress(Plan, "Upload Tamamlandi", Message, true, FilePath);
      return true;
    }
    LogWarnFmt("Drive upload denemesi basarisiz (%d/%d): %s", i, attempts, Message);
    if (IsDiskSpaceError(Message)) {
      LogWarn("Drive upload tekrar denenmeyecek; disk alani yetersiz.");
      return false;
    }
    if (i < attempts) FEnv.Clock().SleepMs(static_cast<std::int64_t>(i) * 5000);
  }
  return false;
}

bool TCloudBackupService::UploadOneFile(const TBackupPlan& Plan, const std::string& FilePath, std::string& Message) {
  Message.clear();
  std::string readPath = FilePath;
  std::string copy;
  TScopeExit dropCopy([&] { DeleteReadableCopy(copy); });

  EnsureGoogleToken();

  std::int64_t size = 0;
  try {
    size = ReadableFileSize(readPath);
  } catch (const std::exception& e) {
    std::string copyError;
    if (!IsLockedFileError(e) || !CreateReadableCopy(FilePath, copy, copyError)) throw;
    readPath = copy;
    size = ReadableFileSize(copy);
    LogWarnFmt("Upload icin snapshot kopyasi kullaniliyor: %s", FilePath);
  }

  // A folder lookup Drive did not answer fails this attempt (the next one
  // looks again); it never leads to a second folder.
  std::string folder;
  try {
    folder = PlanDriveFolderId(Plan);
  } catch (const EDriveError& e) {
    Message = e.what();
    return false;
  }
  if (folder.empty()) {
    // Never fall back to the top level of the whole Drive.
    Message = "Drive hedef klasoru olusturulamadi veya bulunamadi: " + Trim(Plan.DriveSubFolder);
    return false;
  }
  TDriveFileInfo existing;
  std::string listError;
  if (!FGoogleDrive->TryFindFileInFolder(folder, ExtractFileName(FilePath), existing, &listError)) {
    // Taking a failed listing for "no such file" would create a second
    // Drive file of the same name.
    Message = "Drive klasor listesi okunamadi: " + ExtractFileName(FilePath) + " (" + listError + ")";
    return false;
  }

  const bool update = !existing.FileID.empty();
  const std::int64_t needed = update ? std::max<std::int64_t>(0, size - existing.Size) : size;
  std::string quotaMessage;
  if (!CheckDriveQuota(needed, quotaMessage)) {
    Message = quotaMessage;
    return false;
  }

  auto transfer = [&](const std::string& path) {
    return update ? FGoogleDrive->UpdateFileContent(existing.FileID, path, FOnUploadProgress)
                  : FGoogleDrive->UploadFile(path, folder, FOnUploadProgress);
  };
  TDriveFileInfo result;
  try {
    result = transfer(readPath);
  } catch (const std::exception& e) {
    std::string copyError;
    if (!copy.empty() || !IsLockedFileError(e) || !CreateReadableCopy(FilePath, copy, copyError)) throw;
    LogWarnFmt(update ? "Drive guncelleme icin snapshot kopyasi kullaniliyor: %s"
                      : "Drive upload icin snapshot kopyasi kullaniliyor: %s",
               FilePath);
    result = transfer(copy);
  }

  const std::string driveName = result.Name.empty() ? ExtractFileName(FilePath) : result.Name;
  if (update) {
    if (result.FileID.empty()) {
      Message = "Drive surum guncelleme basarisiz.";
      return false;
    }
    Message = Fmt("Yedek alindi ve Drive uzerinde yeni surum olarak kaydedildi: %s", driveName);
    return true;
  }
  if (result.FileID.empty()) {
    Message = "Drive yukleme basarisiz.";
    return false;
  }
  Message = Fmt("Yedek alindi ve Drive'a yuklendi: %s", driveName);
  return true;
}

}  // namespace calvora
