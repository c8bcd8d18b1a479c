// Uploads of the Drive client: one request up to 5 MiB, resumable sessions
// in 8 MiB chunks above, with per-chunk retries and the status query.
#include "google/uGoogleDrive.h"

#include "foundation/AppError.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "google/uGoogleAuth.h"
#include "google/uGoogleDriveAnswers.h"
#include "platform/http_client.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <fstream>
#include <limits>
#include <optional>

namespace calvora {
namespace {

using drive_detail::ParseObject;
using drive_detail::UploadResultFromJson;
using platform::HttpRequest;
using platform::HttpResponse;

constexpr const char* kBoundary = "CalvoraBoundary7E8F9A";
constexpr size_t kCopyBlock = 1048576;
constexpr int kSessionStartAttempts = 3;
constexpr int kChunkAttempts = 5;
constexpr std::int64_t kProgressLogIntervalMs = 15000;
constexpr const char* kUploadFields = "fields=id,name,size,md5Checksum";

// Where a resumable session goes on after a 308: after the last byte its
// Range header names, or at 0 when there is none (the server kept nothing).
bool ResumeOffsetOf(const HttpResponse& response, std::int64_t& next) {
  const std::string range = response.Header("Range");
  if (range.empty()) {
    next = 0;
    return true;
  }
  const size_t dash = range.rfind('-');
  long long last = 0;
  if (dash == std::string::npos || !TryParseInt64(range.substr(dash + 1), last)) return false;
  if (last < 0 || last == std::numeric_limits<long long>::max()) return false;
  next = last + 1;
  return true;
}

std::string NewFileMetadata(const std::string& LocalPath, const std::string& ParentFolderID) {
  TJson metadata = TJson::object();
  metadata["name"] = ExtractFileName(LocalPath);
  if (!ParentFolderID.empty()) metadata["parents"] = TJson::array({ParentFolderID});
  return JsonToText(metadata);
}

// An upload endpoint path with its upload type and the answer's fields.
std::string UploadPath(const std::string& Path, const char* UploadType) {
  std::string address = Path;
  address.append("?uploadType=").append(UploadType).append("&").append(kUploadFields);
  return address;
}

// The one-request body: the metadata part, then the file's bytes copied in
// 1 MiB blocks.
std::string MultipartBody(const std::string& LocalPath, const std::string& ParentFolderID) {
  std::string body;
  body.append("--").append(kBoundary).append("\r\nContent-Type: application/json; charset=UTF-8\r\n\r\n");
  body.append(NewFileMetadata(LocalPath, ParentFolderID));
  body.append("\r\n--").append(kBoundary).append("\r\nContent-Type: application/octet-stream\r\n\r\n");
  std::ifstream in(LocalPath, std::ios::binary);
  if (!in) throw EFileError("Dosya okunamadı: " + LocalPath);
  std::string block(kCopyBlock, '\0');
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    body.append(block.data(), static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) throw EFileError("Dosya okunamadı: " + LocalPath);
  body.append("\r\n--").append(kBoundary).append("--");
  return body;
}

// Size of a local file for the upload decision; 0 when it cannot be read.
std::int64_t UploadSizeOf(const std::string& path) {
  std::int64_t size = FileSizeOf(path);
  return size < 0 ? 0 : size;
}

// A millisecond tick from the environment's clock (tests move it by hand).
std::int64_t TickMs(const TClock& clock) { return std::llround(clock.Now() * 86400000.0); }

}  // namespace

TDriveFileInfo TGoogleDrive::UploadFile(const std::string& LocalPath, const std::string& ParentFolderID,
                                        const TUploadProgress& OnProgress) {
  if (!FileExists(LocalPath)) throw EAppError("Dosya bulunamadı: " + LocalPath);
  std::int64_t size = UploadSizeOf(LocalPath);
  if (size > kSimpleUploadLimit) return UploadFileResumable(LocalPath, ParentFolderID, OnProgress);

  std::string auth = GetAuthHeader();
  if (auth == "Bearer ") {
    ShowError("Hata: Token yüklü değil!");
    return TDriveFileInfo();
  }
  try {
    std::string contentType = "multipart/related; boundary=";
    contentType += kBoundary;
    HttpRequest request;
    request.method = "POST";
    request.url = UploadUrl(UploadPath("/upload/drive/v3/files", "multipart"));
    request.headers.emplace_back("Authorization", auth);
    request.headers.emplace_back("Content-Type", contentType);
    request.body = MultipartBody(LocalPath, ParentFolderID);
    HttpResponse response = Send(request);
    LogDebugFmt("Upload HTTP %d: %s", response.status, ExtractFileName(LocalPath));
    return UploadAnswer(response, "Drive upload hatasi: ", "Drive hatası: ");
  } catch (const std::exception& e) {
    LogException("Upload istisna: " + LocalPath, e);
    ShowError(std::string("Upload hatası: ") + e.what());
    return TDriveFileInfo();
  }
}

// The file record of a one-request upload's answer; an error answer is
// logged and shown, and gives an empty record.
TDriveFileInfo TGoogleDrive::UploadAnswer(const HttpResponse& Response, const std::string& LogText,
                                          const std::string& UserText) {
  TJson answer;
  if (!ParseObject(Response.body, answer)) return TDriveFileInfo();
  if (JsonHas(answer, "error")) {
    LogError(LogText + Response.body);
    ShowError(UserText + Response.body);
    return TDriveFileInfo();
  }
  return UploadResultFromJson(answer);
}

TDriveFileInfo TGoogleDrive::UploadFileResumable(const std::string& LocalPath, const std::string& ParentFolderID,
                                                 const TUploadProgress& OnProgress) {
  if (!FileExists(LocalPath)) throw EAppError("Dosya bulunamadı: " + LocalPath);
  std::string metadata = NewFileMetadata(LocalPath, ParentFolderID);
  std::int64_t size = FileSizeOf(LocalPath);
  if (size < 0) throw EFileError("Dosya okunamadı: " + LocalPath);
  std::string session;
  if (!StartResumableSession(UploadUrl(UploadPath("/upload/drive/v3/files", "resumable")),
                             false, size, metadata, session))
    return TDriveFileInfo();
  return UploadSessionChunks(session, LocalPath, size, OnProgress);
}

TDriveFileInfo TGoogleDrive::UpdateFileContent(const std::string& FileID, const std::string& LocalPath,
                                               const TUploadProgress& OnProgress) {
  if (IsBlank(FileID)) throw EAppError("Guncellenecek Drive dosya ID bos.");
  if (!FileExists(LocalPath)) throw EAppError("Dosya bulunamadı: " + LocalPath);
  std::int64_t size = UploadSizeOf(LocalPath);
  if (size > kSimpleUploadLimit) return UpdateFileContentResumable(FileID, LocalPath, OnProgress);
  try {
    HttpRequest request;
    request.method = "PATCH";
    request.url = UploadUrl(UploadPath("/upload/drive/v3/files/" + FileID, "media"));
    request.headers = BuildHeaders("application/octet-stream");
    request.bodyFile = LocalPath;  // streamed while it is read
    HttpResponse response = Send(request);
    LogDebugFmt("Drive update HTTP %d: %s", response.status, ExtractFileName(LocalPath));
    if (OnProgress) OnProgress(size, size);
    return UploadAnswer(response, "Drive update hatasi: ", "Drive güncelleme hatası: ");
  } catch (const std::exception& e) {
    LogException("Drive dosya guncelleme istisnasi: " + LocalPath, e);
    ShowError(std::string("Drive güncelleme hatası: ") + e.what());
    return TDriveFileInfo();
  }
}

TDriveFileInfo TGoogleDrive::UpdateFileContentResumable(const std::string& FileID, const std::string& LocalPath,
                                                        const TUploadProgress& OnProgress) {
  if (IsBlank(FileID)) throw EAppError("Guncellenecek Drive dosya ID bos.");
  if (!FileExists(LocalPath)) throw EAppError("Dosya bulunamadı: " + LocalPath);
  std::int64_t size = FileSizeOf(LocalPath);
  if (size < 0) throw EFileError("Dosya okunamadı: " + LocalPath);
  std::string session;
  if (!StartResumableSession(
          UploadUrl(UploadPath("/upload/drive/v3/files/" + FileID, "resumable")), true, size,
          "{}", session))
    return TDriveFileInfo();
  return UploadSessionChunks(session, LocalPath, size, OnProgress);
}

bool TGoogleDrive::StartResumableSession(const std::string& Address, bool UsePatch, std::int64_t TotalSize,
                                         const std::string& MetadataJSON, std::string& SessionAddress) {
  HttpRequest request;
  request.method = UsePatch ? "PATCH" : "POST";
  request.url = Address;
  request.headers = {{"Authorization", GetAuthHeader()},
                     {"Content-Type", "application/json; charset=UTF-8"},
                     {"X-Upload-Content-Type", "application/octet-stream"},
                     {"X-Upload-Content-Length", std::to_string(TotalSize)}};
  request.body = MetadataJSON;

  const TClock& clock = FAuth.Env().Clock();
  HttpResponse response;
  int attempt = 0;  // shared by retryable statuses and raised errors
  for (;;) {
    try {
      response = Send(request);
    } catch (const std::exception& e) {
      ++attempt;
      LogWarnFmt("Resumable init istisna (deneme %d): %s", attempt, e.what());
      if (attempt >= kSessionStartAttempts) {
        LogException("Resumable init istisna: " + Address, e);
        return false;
      }
      clock.SleepMs(attempt * 1000);
      continue;
    }
    if (!IsRetryableStatus(response.status) || attempt >= kSessionStartAttempts - 1) break;
    ++attempt;
    LogWarnFmt("Resumable init retry HTTP %d (deneme %d)", response.status, attempt);
    clock.SleepMs(attempt * 1000);
  }

  if (response.status == 200 || response.status == 201) {
    SessionAddress = response.Header("Location");
    if (SessionAddress.empty()) {
      LogError("Resumable init: Location header yok");
      return false;
    }
    // The chunks go where the server says, so the address must lie on the
    // upload host the session was asked of: another host, another scheme or
    // a local file would receive the backup instead.
    const std::string origin = platform::UrlOrigin(SessionAddress);
    if (origin.empty() || origin != platform::UrlOrigin(Address)) {
      LogErrorFmt("Resumable init: oturum adresi yukleme sunucusunda degil, kullanilmadi: %s",
                  origin.empty() ? std::string("gecersiz adres") : origin);
      SessionAddress.clear();
      return false;
    }
    return true;
  }
  LogErrorFmt("Resumable init HTTP %d: %s", response.status, response.body);
  return false;
}

TDriveFileInfo TGoogleDrive::UploadSessionChunks(const std::string& SessionAddress, const std::string& LocalPath,
                                                 std::int64_t TotalSize, const TUploadProgress& OnProgress) {
  TDriveFileInfo result;
  const std::string fileName = ExtractFileName(LocalPath);
  const TClock& clock = FAuth.Env().Clock();
  LogDebugFmt("Resumable session acildi: %s (boyut=%d)", fileName, TotalSize);

  // An empty file has no chunk: the session is completed by the status
  // request, whose answer carries the new file.
  if (TotalSize == 0) {
    std::int64_t next = 0;
    if (!QueryResumableStatus(SessionAddress, 0, next, result)) result = TDriveFileInfo();
  }

  std::int64_t offset = 0;
  const std::int64_t start = TickMs(clock);
  std::int64_t lastLog = 0;
  int stalls = 0;  // answers in a row that kept nothing of a chunk
  bool done = false;
  while (offset < TotalSize && !done) {
    const std::int64_t length = std::min<std::int64_t>(TotalSize - offset, kChunkSize);
    HttpRequest request;
    request.method = "PUT";
    request.url = SessionAddress;  // the session address needs no Authorization
    request.headers = {{"Content-Range", Fmt("bytes %d-%d/%d", offset, offset + length - 1, TotalSize)}};
    request.bodyFile = LocalPath;
    request.bodyOffset = offset;
    request.bodyLength = length;

    std::optional<HttpResponse> answer;
    bool resumed = false;
    for (int failures = 0; !answer;) {
      std::string failure;
      try {
        HttpResponse response = Send(request);
        if (!IsRetryableStatus(response.status)) {
          answer = std::move(response);
          break;
        }
        failure = Fmt("HTTP %d", response.status);
      } catch (const std::exception& e) {
        failure = e.what();
      }
      ++failures;
      LogWarnFmt("Chunk PUT hata (deneme %d): %s", failures, failure);
      if (failures < kChunkAttempts) {
        clock.SleepMs(failures * 1000);
        continue;
      }
      std::int64_t next = 0;
      TDriveFileInfo completed;
      if (QueryResumableStatus(SessionAddress, TotalSize, next, completed) && next > offset) {
        LogWarnFmt("Chunk durumu sorgulandi, yukleme %d byte konumuna kadar ulasmis.", next);
        offset = next;
        if (!completed.FileID.empty()) result = completed;
        resumed = true;
        break;
      }
      LogException("Chunk PUT nihai hata", EAppError(failure));
      return TDriveFileInfo();
    }
    if (resumed) continue;

    const int status = answer->status;
    LogDebugFmt("Chunk %d-%d/%d -> HTTP %d", offset, offset + length - 1, TotalSize, status);
    if (status == 200 || status == 201) {
      TJson body;
      if (ParseObject(answer->body, body)) result = UploadResultFromJson(body);
      offset = TotalSize;
      done = true;
      if (OnProgress) OnProgress(TotalSize, TotalSize);
    } else if (status == 308) {
      // The server may keep less than a chunk: go on from what it kept.
      std::int64_t next = offset + length;
      if (!ResumeOffsetOf(*answer, next) || next > offset + length) next = offset + length;
      next = std::max<std::int64_t>(next, 0);
      if (next < offset + length)
        LogWarnFmt("Drive chunk'in %d byte'ini aldi; yukleme %d byte konumundan devam ediyor.",
                   std::max<std::int64_t>(next - offset, 0), next);
      stalls = next > offset ? 0 : stalls + 1;
      if (stalls >= kChunkAttempts) {
        LogErrorFmt("Resumable upload ilerlemiyor: %s %d byte konumunda kaldi.", fileName, offset);
        return TDriveFileInfo();
      }
      offset = next;
      if (OnProgress) OnProgress(offset, TotalSize);
      const std::int64_t now = TickMs(clock);
      if (now - lastLog >= kProgressLogIntervalMs || offset >= TotalSize) {
        const double percent = static_cast<double>(offset) * 100.0 / static_cast<double>(TotalSize);
        const double elapsed = static_cast<double>(now - start) / 1000.0;
        const std::int64_t remaining = TotalSize - offset;
        const double estimate =
            offset > 0 && elapsed > 0 ? elapsed * static_cast<double>(remaining) / static_cast<double>(offset) : 0.0;
        LogInfoFmt("Drive upload ilerleme: %s %.1f%% (%d / %d MB), kalan yaklasik %.1f dk", fileName, percent,
                   offset / 1048576, TotalSize / 1048576, estimate / 60.0);
        lastLog = now;
      }
    } else {
      LogErrorFmt("Resumable chunk hata HTTP %d: %s", status, answer->body);
      return TDriveFileInfo();
    }
  }
  if (!result.FileID.empty())
    LogInfoFmt("Resumable upload tamam: %s -> %s (%d B)", fileName, result.FileID, result.Size);
  return result;
}

bool TGoogleDrive::QueryResumableStatus(const std::string& SessionAddress, std::int64_t TotalSize,
                                        std::int64_t& NextOffset, TDriveFileInfo& Completed) {
  HttpRequest request;
  request.method = "PUT";
  request.url = SessionAddress;
  request.headers = {{"Content-Range", Fmt("bytes */%d", TotalSize)}};
  HttpResponse response = Send(request);  // a transport error reaches the caller
  if (response.status == 200 || response.status == 201) {
    NextOffset = TotalSize;
    // The upload completed on the server: its answer names the file.
    TJson body;
    if (ParseObject(response.body, body)) Completed = UploadResultFromJson(body);
    return true;
  }
  return response.status == 308 && ResumeOffsetOf(response, NextOffset);
}

}  // namespace calvora
