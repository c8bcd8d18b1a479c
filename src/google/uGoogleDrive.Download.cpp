// Downloads of the Drive client (through a ".part" file beside the
// destination) and the revisions of a file.
#include "google/uGoogleDrive.h"

#include "foundation/AppError.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "google/uGoogleAuth.h"
#include "google/uGoogleDriveAnswers.h"
#include "platform/http_client.h"

#include <exception>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace calvora {

using drive_detail::DecimalMember;
using drive_detail::ParseObject;
using drive_detail::TPageGuard;
using platform::HttpRequest;
using platform::HttpResponse;
using platform::UrlEncode;

namespace {
constexpr std::int64_t kProgressStep = 1048576;
constexpr size_t kMaxNameBytes = 255;

// "<DestPath>.part", its name shortened (on a whole UTF-8 character) when the
// suffix would take it past the file system's name limit.
std::string PartialDownloadPath(const std::string& DestPath) {
  const std::string name = ExtractFileName(DestPath);
  if (name.size() + 5 <= kMaxNameBytes) return DestPath + ".part";
  size_t keep = kMaxNameBytes - 5;
  while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  return DestPath.substr(0, DestPath.size() - name.size()) + name.substr(0, keep) + ".part";
}
}  // namespace

bool TGoogleDrive::DownloadTo(const std::string& Address, const std::string& DestPath,
                              const TUploadProgress& OnProgress, const std::string& LogContext,
                              const std::string& UserText) {
  const std::string temp = PartialDownloadPath(DestPath);
  try {
    std::string folder = ExtractFileDir(DestPath);
    if (!folder.empty() && !ForceDirectories(folder)) throw EFileError("Klasor olusturulamadi: " + folder);
    DeleteFileIfExists(temp);
    {
      std::ofstream create(temp, std::ios::binary | std::ios::trunc);
      if (!create) throw EFileError("Dosya olusturulamadi: " + temp);
    }
    HttpRequest request;
    request.url = Address;
    request.headers = BuildHeaders("");
    request.responseFile = temp;  // the body goes straight to disk
    // Long downloads show their progress as they go, every MiB or so; the
    // final report below always comes.
    std::int64_t reported = 0;
    if (OnProgress)
      request.onDownloadProgress = [&](std::int64_t received, std::int64_t total) {
        if (total <= 0 || received >= total || received - reported < kProgressStep) return;
        reported = received;
        OnProgress(received, total);
      };
    HttpResponse response = Send(request);
    if (response.status != 200) {
      DeleteFileIfExists(temp);
      return false;
    }
    if (OnProgress) {
      std::int64_t size = FileSizeOf(temp);
      OnProgress(size, size);
    }
    // One rename replaces the destination: it is never missing in between.
    std::filesystem::rename(temp, DestPath);
    return true;
  } catch (const std::exception& e) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    LogException(LogContext + DestPath, e);
    ShowError(UserText + e.what());
    return false;
  }
}

bool TGoogleDrive::DownloadFile(const std::string& FileID, const std::string& DestPath,
                                const TUploadProgress& OnProgress) {
  return DownloadTo(ApiUrl("/drive/v3/files/" + FileID + "?alt=media"), DestPath, OnProgress,
                    "Indirme istisna: ", "İndirme hatası: ");
}

bool TGoogleDrive::DownloadFileRevision(const std::string& FileID, const std::string& RevisionID,
                                        const std::string& DestPath, const TUploadProgress& OnProgress) {
  if (IsBlank(FileID) || IsBlank(RevisionID))
    throw EAppError("Drive surum indirme icin dosya ya da surum kimligi bos.");
  return DownloadTo(ApiUrl("/drive/v3/files/" + FileID + "/revisions/" + RevisionID + "?alt=media"), DestPath,
                    OnProgress, "Drive surum indirme istisnasi: ", "Surum indirme hatasi: ");
}

std::vector<TDriveRevisionInfo> TGoogleDrive::ListFileRevisions(const std::string& FileID) {
  std::vector<TDriveRevisionInfo> result;
  if (IsBlank(FileID)) return result;
  const std::string first =
      "/drive/v3/files/" + FileID +
      "/revisions?pageSize=200&fields=nextPageToken,revisions(id,modifiedTime,size,md5Checksum,keepForever,"
      "originalFilename)";
  std::string pageToken;
  TPageGuard pages;
  do {
    HttpResponse response;
    try {
      HttpRequest request;
      request.url = ApiUrl(pageToken.empty() ? first : first + "&pageToken=" + UrlEncode(pageToken));
      request.headers = BuildHeaders("");
      response = Send(request);
    } catch (const std::exception& e) {
      LogException("Drive revision listeleme istisnasi: " + FileID, e);
      return {};
    }
    if (response.status != 200) {
      LogWarnFmt("Drive revision listesi HTTP %d: %s", response.status, response.body);
      return {};
    }
    TJson answer;
    pageToken.clear();
    if (!ParseObject(response.body, answer)) {
      // An unreadable page is a failure too: the list is complete or empty.
      LogWarnFmt("Drive revision listesi okunamadi: %s", response.body);
      return {};
    }
    auto revisions = answer.find("revisions");
    if (revisions != answer.end() && revisions->is_array()) {
      for (const auto& item : *revisions) {
        TDriveRevisionInfo info;
        info.RevisionID = JsonMemberText(item, "id");
        info.ModifiedTime = ParseDriveDateTime(JsonMemberText(item, "modifiedTime"));
        info.Size = DecimalMember(item, "size");
        info.MD5 = JsonMemberText(item, "md5Checksum");
        info.KeepForever = JsonMemberBool(item, "keepForever");
        info.OriginalFilename = JsonMemberText(item, "originalFilename");
        result.push_back(std::move(info));
      }
    }
    pageToken = JsonMemberText(answer, "nextPageToken");
    std::string error;
    if (!pageToken.empty() && !pages.Follow(pageToken, error)) {
      LogWarnFmt("Drive revision listesi: %s", error);
      return {};
    }
  } while (!pageToken.empty());
  return result;
}

bool TGoogleDrive::SetRevisionKeepForever(const std::string& FileID, const std::string& RevisionID,
                                          bool KeepForever) {
  if (IsBlank(FileID) || IsBlank(RevisionID)) return false;
  try {
    TJson body = TJson::object();
    body["keepForever"] = KeepForever;
    HttpRequest request;
    request.method = "PATCH";
    request.url = ApiUrl("/drive/v3/files/" + FileID + "/revisions/" + RevisionID + "?fields=id,keepForever");
    request.headers = BuildHeaders("application/json");
    request.body = JsonToText(body);
    HttpResponse response = Send(request);
    if (response.status == 200) return true;
    LogWarnFmt("Drive revision keepForever HTTP %d: %s", response.status, response.body);
    return false;
  } catch (const std::exception& e) {
    LogException("Drive revision keepForever istisnasi", e);
    return false;
  }
}

}  // namespace calvora
