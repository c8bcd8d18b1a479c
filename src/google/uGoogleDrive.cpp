#include "google/uGoogleDrive.h"

#include "foundation/AppError.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "google/DriveBackoff.h"
#include "google/uGoogleAuth.h"
#include "google/uGoogleDriveAnswers.h"
#include "platform/http_client.h"

#include <exception>
#include <limits>
#include <set>

namespace calvora {
namespace {

using drive_detail::DecimalMember;
using drive_detail::ParseObject;
using drive_detail::TPageGuard;
using platform::HttpRequest;
using platform::HttpResponse;
using platform::UrlEncode;

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

void TGoogleDrive::SetBackoff(std::shared_ptr<TDriveBackoff> Backoff) { FBackoff = std::move(Backoff); }

HttpResponse TGoogleDrive::Send(const HttpRequest& Request) {
  if (!FBackoff) return SendRenewingToken(Request);
  for (int attempt = 1;; ++attempt) {
    FBackoff->WaitTurn();
    HttpResponse response = SendRenewingToken(Request);
    if (!IsRateLimitAnswer(response.status, response.body)) {
      FBackoff->Succeeded();
      return response;
    }
    if (attempt >= TDriveBackoff::kAttempts) return response;
    LogWarnFmt("Drive istek siniri asildi (HTTP %d), bekleniyor (deneme %d)", response.status, attempt);
    FBackoff->RateLimited();
  }
}

HttpResponse TGoogleDrive::SendRenewingToken(const HttpRequest& Request) {
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
