#pragma once
// Client of the Drive v3 REST API: folders with a path cache, listings,
// metadata, quota, deletion, uploads (one request up to 5 MiB, resumable
// sessions in 8 MiB chunks above), downloads through a ".part" file, and
// revisions. Operations report failure by their result (empty identifier,
// empty list, false) unless stated otherwise; all calls block.
#include "foundation/AppError.h"
#include "foundation/DateTime.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace calvora {

class TDriveBackoff;
class TGoogleAuth;
namespace platform {
class HttpClient;
struct HttpRequest;
struct HttpResponse;
}  // namespace platform

inline constexpr const char* kDriveFolderMimeType = "application/vnd.google-apps.folder";

// A Drive request that got no usable answer (an error status, an unreadable
// body, no answer at all) where reading it as "not there" would make
// something a second time. The text carries the server's message.
class EDriveError : public EAppError {
 public:
  using EAppError::EAppError;
  const char* ClassName() const noexcept override { return "EDriveError"; }
};

struct TDriveFileInfo {
  std::string FileID;
  std::string Name;
  std::string RelativePath;  // set by callers that walk folder trees
  std::string MimeType;
  std::int64_t Size = 0;
  std::string MD5;
  TDateTime ModifiedTime = 0;  // local time
};

struct TDriveRevisionInfo {
  std::string RevisionID;
  TDateTime ModifiedTime = 0;  // local time
  std::int64_t Size = 0;
  std::string MD5;
  bool KeepForever = false;
  std::string OriginalFilename;
};

struct TDriveStorageQuota {
  std::int64_t LimitBytes = 0;  // 0: no limit
  std::int64_t UsedBytes = 0;
  std::int64_t UsedInDriveBytes = 0;
  std::int64_t TrashBytes = 0;
};

// Progress of an upload or download; an empty function means "none".
using TUploadProgress = std::function<void(std::int64_t BytesSent, std::int64_t TotalBytes)>;

class TGoogleDrive {
 public:
  static constexpr std::int64_t kSimpleUploadLimit = 5242880;
  static constexpr std::int64_t kChunkSize = 8388608;
  // A listing longer than this many pages is taken for a server that never
  // ends it (no real folder comes near: 1000 entries a page).
  static constexpr int kMaxListPages = 10000;

  // `Auth` provides the tokens, the environment (endpoints, clock) and the
  // interactive-messages flag; it is not owned and must outlive the object.
  explicit TGoogleDrive(TGoogleAuth& Auth);
  ~TGoogleDrive();
  TGoogleDrive(const TGoogleDrive&) = delete;
  TGoogleDrive& operator=(const TGoogleDrive&) = delete;

  // Sets how long a transfer may crawl below 1 KiB/s before it is cut and
  // retried (60 s unless set; tests use a short window).
  void SetLowSpeedWindowSeconds(long Seconds);
  // With a back-off, a rate-limit answer is waited out and the request sent
  // again (TDriveBackoff::kAttempts times at most), and clients sharing the
  // back-off wait together; without one (the default) the answer goes to
  // the caller as it came.
  void SetBackoff(std::shared_ptr<TDriveBackoff> Backoff);

  // --- folders and metadata
  // Identifier of the first non-trashed folder of that name under the
  // parent; empty when none or on any error.
  std::string FindSubFolder(const std::string& ParentFolderID, const std::string& FolderName);
  // The same lookup telling a failure from absence: true with FolderID
  // (empty when there is no such folder) once Drive answered the query;
  // false with Error (the server's message) on an error status, an
  // unreadable answer or a transport error.
  bool TryFindSubFolder(const std::string& ParentFolderID, const std::string& FolderName, std::string& FolderID,
                        std::string& Error);
  // Identifier of the new folder, or empty. Transport errors are raised.
  std::string CreateFolder(const std::string& FolderName, const std::string& ParentFolderID);
  // Identifier of RelativePath below RootFolderID ("\" or "/" separated),
  // creating missing folders; empty when Drive refuses a creation. A lookup
  // that fails and a creation that gets no answer are raised as EDriveError:
  // a folder is created only once Drive said it is not there.
  std::string EnsureFolderPath(const std::string& RootFolderID, const std::string& RelativePath);
  void ResetFolderCache();
  // Children of the folder (every file the token sees when the identifier is
  // empty), all pages; empty on a transport error and on a listing that
  // repeats a page token or never ends.
  std::vector<TDriveFileInfo> ListFiles(const std::string& ParentFolderID);
  // The first non-folder child whose name equals FileName ignoring case;
  // empty FileID when none.
  TDriveFileInfo FindFileInFolder(const std::string& ParentFolderID, const std::string& FileName);
  // Listings that tell a failure from an empty folder: false (and an empty
  // result, the reason in *Error when given) on a transport error, an
  // answer other than 200, an unreadable body, a repeated page token or
  // more than kMaxListPages pages; true with the complete listing otherwise.
  bool TryListFiles(const std::string& ParentFolderID, std::vector<TDriveFileInfo>& Files,
                    std::string* Error = nullptr);
  // True with File (empty FileID when there is no such file) once the
  // folder could be listed; false when it could not.
  bool TryFindFileInFolder(const std::string& ParentFolderID, const std::string& FileName, TDriveFileInfo& File,
                           std::string* Error = nullptr);
  TDriveFileInfo GetFileMetadata(const std::string& FileID);
  bool GetStorageQuota(TDriveStorageQuota& Quota);
  // Sum of the sizes below the folder, sub-folders included (each folder
  // counted once); stops at the largest 64-bit value.
  std::int64_t GetFolderSize(const std::string& FolderID);
  // Removes the file at once (not to the trash); true on HTTP 204.
  bool DeleteFile(const std::string& FileID);

  // --- uploads: empty FileID in the result on failure. A missing local
  // file (and a blank FileID for UpdateFileContent) is raised as EAppError
  // before any request; a transport error of a session's status query is
  // raised too.
  TDriveFileInfo UploadFile(const std::string& LocalPath, const std::string& ParentFolderID,
                            const TUploadProgress& OnProgress = nullptr);
  TDriveFileInfo UploadFileResumable(const std::string& LocalPath, const std::string& ParentFolderID,
                                     const TUploadProgress& OnProgress = nullptr);
  TDriveFileInfo UpdateFileContent(const std::string& FileID, const std::string& LocalPath,
                                   const TUploadProgress& OnProgress = nullptr);

  // --- downloads and revisions
  // True when DestPath now holds the content; an interrupted or refused
  // download leaves neither "<DestPath>.part" (its name shortened when it
  // would pass 255 bytes) nor a changed DestPath.
  bool DownloadFile(const std::string& FileID, const std::string& DestPath,
                    const TUploadProgress& OnProgress = nullptr);
  // Every revision over all pages in Drive's order; empty on any failure.
  std::vector<TDriveRevisionInfo> ListFileRevisions(const std::string& FileID);
  // As DownloadFile. A blank FileID or RevisionID is raised as EAppError.
  bool DownloadFileRevision(const std::string& FileID, const std::string& RevisionID,
                            const std::string& DestPath, const TUploadProgress& OnProgress = nullptr);
  bool SetRevisionKeepForever(const std::string& FileID, const std::string& RevisionID, bool KeepForever);

 private:
  std::string GetAuthHeader();
  std::vector<std::pair<std::string, std::string>> BuildHeaders(const std::string& ContentType);
  void ShowError(const std::string& Text);
  std::string ApiUrl(const std::string& PathAndQuery) const;
  std::string UploadUrl(const std::string& PathAndQuery) const;
  // Sends; a request that carried an access token and was refused with
  // 401 is sent once more with a renewed token.
  platform::HttpResponse Send(const platform::HttpRequest& Request);
  platform::HttpResponse SendRenewingToken(const platform::HttpRequest& Request);
  platform::HttpResponse RequestListPage(const std::string& ParentFolderID, const std::string& PageToken);
  TDriveFileInfo UploadAnswer(const platform::HttpResponse& Response, const std::string& LogText,
                              const std::string& UserText);

  bool StartResumableSession(const std::string& Address, bool UsePatch, std::int64_t TotalSize,
                             const std::string& MetadataJSON, std::string& SessionAddress);
  TDriveFileInfo UploadSessionChunks(const std::string& SessionAddress, const std::string& LocalPath,
                                     std::int64_t TotalSize, const TUploadProgress& OnProgress);
  TDriveFileInfo UpdateFileContentResumable(const std::string& FileID, const std::string& LocalPath,
                                            const TUploadProgress& OnProgress);
  bool QueryResumableStatus(const std::string& SessionAddress, std::int64_t TotalSize,
                            std::int64_t& NextOffset, TDriveFileInfo& Completed);
  bool DownloadTo(const std::string& Address, const std::string& DestPath, const TUploadProgress& OnProgress,
                  const std::string& LogContext, const std::string& UserText);

  TGoogleAuth& FAuth;
  std::unique_ptr<platform::HttpClient> FHttpClient;
  std::map<std::string, std::string> FFolderCache;
  std::shared_ptr<TDriveBackoff> FBackoff;
};

// Drive's "modifiedTime" (RFC 3339, UTC) as local time; 0 when blank or
// unreadable.
TDateTime ParseDriveDateTime(const std::string& Text);
// Backslashes to "/", leading and trailing "/" removed.
std::string NormalizeDrivePath(const std::string& Path);
// 408, 429 and 500-599.
bool IsRetryableStatus(int Status);
// A + B for byte counts a server gave: a negative count adds nothing, and
// the sum stops at the largest 64-bit value instead of overflowing.
std::int64_t AddByteCounts(std::int64_t A, std::int64_t B);

}  // namespace calvora
