#include "google/uGoogleDrive.h"

#include "foundation/AppError.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "google/uGoogleAuth.h"
#include "platform/http_client.h"

#include <cmath>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <set>

namespace calvora {
namespace {

using platform::HttpRequest;
using platform::HttpResponse;
using platform::UrlEncode;

constexpr const char* kBoundary = "CalvoraBoundary7E8F9A";
constexpr size_t kCopyBlock = 1048576;
constexpr int kSessionStartAttempts = 3;
constexpr int kChunkAttempts = 5;
constexpr std::int64_t kProgressLogIntervalMs = 15000;
constexpr const char* kUploadFields = "fields=id,name,size,md5Checksum";

// A byte count from the server; 0 when absent, not a number or negative.
std::int64_t DecimalMember(const TJson& object, std::string_view key) {
  long long value = 0;
  return TryParseInt64(JsonMemberText(object, key), value) && value > 0 ? value : 0;
}

bool ParseObject(const std::string& body, TJson& object) { return TryParseJson(body, object) && object.is_object(); }

// Why an answer is not usable, for error texts: "HTTP <status>: <Google's
// message>" (the start of the body when it carries none).
std::string AnswerFailure(const HttpResponse& response) {
  TJson answer;
  std::string message;
  if (ParseObject(response.body, answer)) {
    auto error = answer.find("error");
    if (error != answer.end()) message = error->is_object() ? JsonMemberText(*error, "message") : JsonValueText(*error);
  }
  if (message.empty()) message = response.body;
  // The text is the server's: kept short and on one line.
  message = SanitizeUtf8(message.substr(0, 200));
  for (char& c : message)
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  message = Trim(message);
  return Fmt("HTTP %d", response.status) + (message.empty() ? std::string() : ": " + message);
}

// Follows nextPageToken: a token met before, or more pages than any real
// folder has, ends the listing as failed (a server that never ends it
// would otherwise be asked forever, or cut short and taken for complete).
class TPageGuard {
 public:
  bool Follow(const std::string& NextToken, std::string& Error) {
    if (++FPages >= TGoogleDrive::kMaxListPages) {
      Error = Fmt("Drive listesi %d sayfada bitmedi; liste tamamlanamadi.", FPages);
      return false;
    }
    if (!FSeen.insert(NextToken).second) {
      Error = "Drive listesi ayni sayfa belirtecini tekrarladi; liste tamamlanamadi.";
      return false;
    }
    return true;
  }

 private:
  int FPages = 0;
  std::set<std::string> FSeen;
};

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

// The Authorization value a request carries; empty when it has none.
std::string AuthorizationOf(const HttpRequest& request) {
  for (const auto& [name, value] : request.headers)
    if (SameText(name, "Authorization")) return value;
  return std::string();
}

TDriveFileInfo FileInfoFromJson(const TJson& item) {
  TDriveFileInfo info;
  info.FileID = JsonMemberText(item, "id");
  info.Name = JsonMemberText(item, "name");
  info.MimeType = JsonMemberText(item, "mimeType");
  info.Size = DecimalMember(item, "size");
  info.MD5 = JsonMemberText(item, "md5Checksum");
  info.ModifiedTime = ParseDriveDateTime(JsonMemberText(item, "modifiedTime"));
  return info;
}

// The upload answers carry only id, name, size and md5Checksum.
TDriveFileInfo UploadResultFromJson(const TJson& item) {
  TDriveFileInfo info;
  info.FileID = JsonMemberText(item, "id");
  info.Name = JsonMemberText(item, "name");
  info.Size = DecimalMember(item, "size");
  info.MD5 = JsonMemberText(item, "md5Checksum");
  return info;
}

std::string NewFileMetadata(const std::string& LocalPath, const std::string& ParentFolderID) {
  TJson metadata = TJson::object();
  metadata["name"] = ExtractFileName(LocalPath);
  if (!ParentFolderID.empty()) metadata["parents"] = TJson::array({ParentFolderID});
  return JsonToText(metadata);
}

// Size of a local file for the upload decision; 0 when it cannot be read.
std::int64_t UploadSizeOf(const std::string& path) {
  std::int64_t size = FileSizeOf(path);
  return size < 0 ? 0 : size;
}

// A millisecond tick from the environment's clock (tests move it by hand).
std::int64_t TickMs(const TClock& clock) { return std::llround(clock.Now() * 86400000.0); }

}  // namespace

TGoogleDrive::TGoogleDrive(TGoogleAuth& Auth) : FAuth(Auth), FHttpClient(std::make_unique<platform::HttpClient>()) {
  FHttpClient->SetConnectTimeoutMs(30000);
  FHttpClient->SetResponseTimeoutMs(1800000);
}

TGoogleDrive::~TGoogleDrive() = default;

void TGoogleDrive::SetLowSpeedWindowSeconds(long Seconds) { FHttpClient->SetLowSpeedWindowSeconds(Seconds); }

std::string TGoogleDrive::GetAuthHeader() { return "Bearer " + FAuth.GetValidToken(); }

std::vector<std::pair<std::string, std::string>> TGoogleDrive::BuildHeaders(const std::string& ContentType) {
  std::vector<std::pair<std::string, std::string>> headers{{"Authorization", GetAuthHeader()}};
  if (!ContentType.empty()) headers.emplace_back("Content-Type", ContentType);
  return headers;
}

void TGoogleDrive::ShowError(const std::string& Text) { FAuth.ShowInfo(Text); }

std::string TGoogleDrive::ApiUrl(const std::string& PathAndQuery) const {
  return FAuth.Env().Deployment().DriveApiBase + PathAndQuery;
}

std::string TGoogleDrive::UploadUrl(const std::string& PathAndQuery) const {
  return FAuth.Env().Deployment().DriveUploadBase + PathAndQuery;
}

HttpResponse TGoogleDrive::Send(const HttpRequest& Request) {
  HttpResponse response = FHttpClient->Send(Request);
  if (response.status != 401) return response;
  // Google may refuse a token well before the expiry the cache holds (clock
  // skew, a wrong expiry from the pool, a password change): renew it once
  // and ask again, instead of failing every request of the run. Requests
  // without a token (the upload session address) have nothing to renew.
  const std::string sent = AuthorizationOf(Request);
  if (sent.size() <= 7 || sent.compare(0, 7, "Bearer ") != 0) return response;
  const std::string token = FAuth.RenewRejectedToken(sent.substr(7));
  if (token.empty()) return response;
  HttpRequest again = Request;
  for (auto& [name, value] : again.headers)
    if (SameText(name, "Authorization")) value = "Bearer " + token;
  return FHttpClient->Send(again);
}

// ---------------------------------------------------------------- folders

std::string TGoogleDrive::FindSubFolder(const std::string& ParentFolderID, const std::string& FolderName) {
  std::string id, error;
  return TryFindSubFolder(ParentFolderID, FolderName, id, error) ? id : std::string();
}

bool TGoogleDrive::TryFindSubFolder(const std::string& ParentFolderID, const std::string& FolderName,
                                    std::string& FolderID, std::string& Error) {
  FolderID.clear();
  Error.clear();
  try {
    // Drive's query strings escape the backslash as well as the apostrophe.
    std::string escaped = ReplaceAll(ReplaceAll(FolderName, "\\", "\\\\"), "'", "\\'");
    std::string query = "'" + ParentFolderID + "' in parents and name='" + escaped + "' and mimeType='" +
                        kDriveFolderMimeType + "' and trashed=false";
    HttpRequest request;
    request.url = ApiUrl("/drive/v3/files?fields=files(id,name)&q=" + UrlEncode(query));
    request.headers = BuildHeaders("");
    HttpResponse response = Send(request);
    TJson answer;
    const bool readable = response.status == 200 && ParseObject(response.body, answer);
    auto files = readable ? answer.find("files") : answer.end();
    if (!readable || (files != answer.end() && !files->is_array())) {
      Error = "Drive klasoru aranamadi: " + FolderName + " (" + AnswerFailure(response) + ")";
      LogWarnFmt("Drive klasor aramasi HTTP %d: %s", response.status, response.body);
      return false;
    }
    if (files == answer.end() || files->empty()) return true;
    FolderID = JsonMemberText((*files)[0], "id");
    if (FolderID.empty()) {
      Error = "Drive klasoru aranamadi: " + FolderName + " (yanitta klasor kimligi yok)";
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    LogException("FindSubFolder: " + FolderName, e);
    Error = "Drive klasoru aranamadi: " + FolderName + " (" + e.what() + ")";
    return false;
  }
}

std::string TGoogleDrive::CreateFolder(const std::string& FolderName, const std::string& ParentFolderID) {
  TJson body = TJson::object();
  body["name"] = FolderName;
  body["mimeType"] = kDriveFolderMimeType;
  body["parents"] = TJson::array();
  if (!ParentFolderID.empty()) body["parents"].push_back(ParentFolderID);

  HttpRequest request;
  request.method = "POST";
  request.url = ApiUrl("/drive/v3/files?fields=id,name");
  request.headers = BuildHeaders("application/json");
  request.body = JsonToText(body);
  HttpResponse response = Send(request);
  if (response.status == 200 || response.status == 201) {
    TJson answer;
    bool parsed = ParseObject(response.body, answer);
    if (parsed && JsonHas(answer, "error")) {
      LogErrorFmt("Klasor olusturma API hatasi: %s", response.body);
      ShowError("Klasör oluşturma hatası: " + response.body);
      return std::string();
    }
    return parsed ? JsonMemberText(answer, "id") : std::string();
  }
  LogErrorFmt("Klasor olusturma HTTP %d: %s", response.status, response.body);
  ShowError("Klasör oluşturma hatası (HTTP " + std::to_string(response.status) + "): " + response.body);
  return std::string();
}

std::string TGoogleDrive::EnsureFolderPath(const std::string& RootFolderID, const std::string& RelativePath) {
  std::string path = NormalizeDrivePath(RelativePath);
  if (path.empty()) return RootFolderID;
  std::string parent = RootFolderID;
  std::string prefix;
  std::string id = RootFolderID;
  for (const std::string& part : Split(path, '/')) {
    if (part.empty()) continue;
    prefix = prefix.empty() ? part : prefix + "/" + part;
    std::string key = RootFolderID + "|" + prefix;
    auto cached = FFolderCache.find(key);
    if (cached != FFolderCache.end()) {
      id = cached->second;
    } else {
      // Only a lookup Drive answered may lead to a new folder: a failed one
      // taken for "not there" made a second folder of the same name.
      std::string error;
      if (!TryFindSubFolder(parent, part, id, error)) {
        LogErrorFmt("Alt klasor aranamadi: %s (parent=%s)", part, parent);
        throw EDriveError(error);
      }
      if (id.empty()) {
        LogDebugFmt("Alt klasor olusturuluyor: %s (parent=%s)", part, parent);
        try {
          id = CreateFolder(part, parent);
        } catch (const platform::HttpTransportError& e) {
          throw EDriveError("Drive klasoru olusturulamadi: " + part + " (" + e.what() + ")");
        }
        if (id.empty()) {
          LogErrorFmt("Alt klasor olusturulamadi: %s (parent=%s)", part, parent);
          return std::string();
        }
        LogDebugFmt("Alt klasor olusturuldu: %s -> %s", part, id);
      }
      FFolderCache[key] = id;
    }
    parent = id;
  }
  return id;
}

void TGoogleDrive::ResetFolderCache() { FFolderCache.clear(); }

// ---------------------------------------------------------------- listing and metadata

// One page of a folder's children (all files the token sees for an empty
// identifier).
HttpResponse TGoogleDrive::RequestListPage(const std::string& ParentFolderID, const std::string& PageToken) {
  std::string address =
      "/drive/v3/files?pageSize=1000&fields=nextPageToken,files(id,name,size,md5Checksum,mimeType,modifiedTime)";
  if (!ParentFolderID.empty()) address += "&q=" + UrlEncode("'" + ParentFolderID + "' in parents and trashed=false");
  if (!PageToken.empty()) address += "&pageToken=" + UrlEncode(PageToken);
  HttpRequest request;
  request.url = ApiUrl(address);
  request.headers = BuildHeaders("");
  return Send(request);
}

std::vector<TDriveFileInfo> TGoogleDrive::ListFiles(const std::string& ParentFolderID) {
  std::vector<TDriveFileInfo> result;
  std::string pageToken;
  TPageGuard pages;
  try {
    do {
      HttpResponse response = RequestListPage(ParentFolderID, pageToken);
      pageToken.clear();
      TJson answer;
      if (!ParseObject(response.body, answer)) break;
      auto files = answer.find("files");
      if (files != answer.end() && files->is_array())
        for (const auto& item : *files) result.push_back(FileInfoFromJson(item));
      pageToken = JsonMemberText(answer, "nextPageToken");
      std::string error;
      if (!pageToken.empty() && !pages.Follow(pageToken, error)) {
        LogError(error);
        return {};
      }
    } while (!pageToken.empty());
  } catch (const std::exception& e) {
    ShowError(std::string("Liste hatası: ") + e.what());
    return {};
  }
  return result;
}

TDriveFileInfo TGoogleDrive::FindFileInFolder(const std::string& ParentFolderID, const std::string& FileName) {
  if (IsBlank(ParentFolderID) || IsBlank(FileName)) return TDriveFileInfo();
  for (const TDriveFileInfo& item : ListFiles(ParentFolderID))
    if (SameText(item.Name, FileName) && item.MimeType != kDriveFolderMimeType) return item;
  return TDriveFileInfo();
}

bool TGoogleDrive::TryListFiles(const std::string& ParentFolderID, std::vector<TDriveFileInfo>& Files,
                                std::string* Error) {
  Files.clear();
  std::vector<TDriveFileInfo> result;
  std::string pageToken;
  TPageGuard pages;
  std::string error;
  auto fail = [&](const std::string& text) {
    if (Error) *Error = text;
    return false;
  };
  try {
    do {
      HttpResponse response = RequestListPage(ParentFolderID, pageToken);
      TJson answer;
      if (response.status != 200 || !ParseObject(response.body, answer)) {
        LogErrorFmt("Drive listeleme HTTP %d: %s", response.status, response.body);
        return fail(AnswerFailure(response));
      }
      auto files = answer.find("files");
      if (files != answer.end() && !files->is_array()) return fail(AnswerFailure(response));
      if (files != answer.end())
        for (const auto& item : *files) result.push_back(FileInfoFromJson(item));
      pageToken = JsonMemberText(answer, "nextPageToken");
      if (!pageToken.empty() && !pages.Follow(pageToken, error)) {
        LogError(error);
        return fail(error);
      }
    } while (!pageToken.empty());
  } catch (const std::exception& e) {
    LogException("Drive listeleme hatasi", e);
    return fail(e.what());
  }
  Files = std::move(result);
  if (Error) Error->clear();
  return true;
}

bool TGoogleDrive::TryFindFileInFolder(const std::string& ParentFolderID, const std::string& FileName,
                                       TDriveFileInfo& File, std::string* Error) {
  File = TDriveFileInfo();
  if (IsBlank(ParentFolderID) || IsBlank(FileName)) return false;
  std::vector<TDriveFileInfo> files;
  if (!TryListFiles(ParentFolderID, files, Error)) return false;
  for (const TDriveFileInfo& item : files)
    if (SameText(item.Name, FileName) && item.MimeType != kDriveFolderMimeType) {
      File = item;
      break;
    }
  return true;
}

TDriveFileInfo TGoogleDrive::GetFileMetadata(const std::string& FileID) {
  try {
    HttpRequest request;
    request.url = ApiUrl("/drive/v3/files/" + FileID + "?fields=id,name,size,md5Checksum,mimeType,modifiedTime");
    request.headers = BuildHeaders("");
    HttpResponse response = Send(request);
    TJson answer;
    if (!ParseObject(response.body, answer)) return TDriveFileInfo();
    return FileInfoFromJson(answer);
  } catch (const std::exception& e) {
    ShowError(std::string("Metadata hatası: ") + e.what());
    return TDriveFileInfo();
  }
}

bool TGoogleDrive::GetStorageQuota(TDriveStorageQuota& Quota) {
  Quota = TDriveStorageQuota();
  try {
    HttpRequest request;
    request.url = ApiUrl("/drive/v3/about?fields=storageQuota(limit,usage,usageInDrive,usageInDriveTrash)");
    request.headers = BuildHeaders("");
    HttpResponse response = Send(request);
    if (response.status != 200) {
      LogWarnFmt("Drive kota bilgisi alinamadi HTTP %d: %s", response.status, response.body);
      return false;
    }
    TJson answer;
    if (!ParseObject(response.body, answer)) return false;
    auto quota = answer.find("storageQuota");
    if (quota == answer.end() || !quota->is_object()) return false;
    Quota.LimitBytes = DecimalMember(*quota, "limit");
    Quota.UsedBytes = DecimalMember(*quota, "usage");
    Quota.UsedInDriveBytes = DecimalMember(*quota, "usageInDrive");
    Quota.TrashBytes = DecimalMember(*quota, "usageInDriveTrash");
    return true;
  } catch (const std::exception& e) {
    LogException("Drive kota sorgu hatasi", e);
    ShowError(std::string("Drive kota bilgisi alınamadı: ") + e.what());
    return false;
  }
}

std::int64_t TGoogleDrive::GetFolderSize(const std::string& FolderID) {
  if (IsBlank(FolderID)) return 0;
  // A server that lists a folder below itself must not send this round in
  // circles: each folder is counted once.
  std::set<std::string> seen;
  std::int64_t total = 0;
  std::vector<std::string> pending{FolderID};
  while (!pending.empty()) {
    const std::string folder = pending.back();
    pending.pop_back();
    if (!seen.insert(folder).second) continue;
    for (const TDriveFileInfo& item : ListFiles(folder)) {
      if (SameText(item.MimeType, kDriveFolderMimeType))
        pending.push_back(item.FileID);
      else
        total = AddByteCounts(total, item.Size);
    }
  }
  return total;
}

bool TGoogleDrive::DeleteFile(const std::string& FileID) {
  try {
    HttpRequest request;
    request.method = "DELETE";
    request.url = ApiUrl("/drive/v3/files/" + FileID);
    request.headers = BuildHeaders("");
    return Send(request).status == 204;
  } catch (const std::exception&) {
    return false;
  }
}

// ---------------------------------------------------------------- uploads

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
    std::string body = std::string("--") + kBoundary + "\r\nContent-Type: application/json; charset=UTF-8\r\n\r\n" +
                       NewFileMetadata(LocalPath, ParentFolderID) + "\r\n" + "--" + kBoundary + "\r\n" +
                       "Content-Type: application/octet-stream" + "\r\n\r\n";
    std::ifstream in(LocalPath, std::ios::binary);
    if (!in) throw EFileError("Dosya okunamadı: " + LocalPath);
    std::string block(kCopyBlock, '\0');
    while (in) {
      in.read(block.data(), static_cast<std::streamsize>(block.size()));
      body.append(block.data(), static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) throw EFileError("Dosya okunamadı: " + LocalPath);
    body += std::string("\r\n--") + kBoundary + "--";

    HttpRequest request;
    request.method = "POST";
    request.url = UploadUrl(std::string("/upload/drive/v3/files?uploadType=multipart&") + kUploadFields);
    request.headers = {{"Authorization", auth},
                       {"Content-Type", std::string("multipart/related; boundary=") + kBoundary}};
    request.body = std::move(body);
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
  if (!StartResumableSession(UploadUrl(std::string("/upload/drive/v3/files?uploadType=resumable&") + kUploadFields),
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
    request.url = UploadUrl("/upload/drive/v3/files/" + FileID + "?uploadType=media&" + kUploadFields);
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
          UploadUrl("/upload/drive/v3/files/" + FileID + "?uploadType=resumable&" + kUploadFields), true, size,
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

// ---------------------------------------------------------------- downloads and revisions

namespace {
constexpr std::int64_t kProgressStep = 1048576;
}  // namespace

bool TGoogleDrive::DownloadTo(const std::string& Address, const std::string& DestPath,
                              const TUploadProgress& OnProgress, const std::string& LogContext,
                              const std::string& UserText) {
  const std::string temp = DestPath + ".part";
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

// ---------------------------------------------------------------- helpers

TDateTime ParseDriveDateTime(const std::string& Text) {
  std::string text = Trim(Text);
  if (text.empty()) return 0;
  TDateTime value = 0;
  if (TryParseRfc3339(text, value)) return value;

  std::string plain = text;
  if (!plain.empty() && (plain.back() == 'Z' || plain.back() == 'z')) plain.pop_back();
  size_t t = plain.find('T');
  if (t != std::string::npos) {
    std::string time = plain.substr(t + 1);
    size_t dot = time.find('.');
    if (dot != std::string::npos) time.resize(dot);
    plain = plain.substr(0, t) + " " + time;
  }
  if (TryParseDateTime(plain, value)) return value;

  std::string regional = text;
  size_t firstT = regional.find('T');
  if (firstT != std::string::npos) regional[firstT] = ' ';
  if (TryParseRegionalDateTime(regional, value)) return value;
  return 0;
}

std::string NormalizeDrivePath(const std::string& Path) {
  std::string path = ReplaceAll(Path, "\\", "/");
  size_t first = path.find_first_not_of('/');
  if (first == std::string::npos) return std::string();
  size_t last = path.find_last_not_of('/');
  return path.substr(first, last - first + 1);
}

bool IsRetryableStatus(int Status) { return Status == 408 || Status == 429 || (Status >= 500 && Status <= 599); }

std::int64_t AddByteCounts(std::int64_t A, std::int64_t B) {
  A = std::max<std::int64_t>(A, 0);
  B = std::max<std::int64_t>(B, 0);
  const std::int64_t room = std::numeric_limits<std::int64_t>::max() - A;
  return B > room ? std::numeric_limits<std::int64_t>::max() : A + B;
}

}  // namespace calvora
