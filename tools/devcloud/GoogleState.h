#pragma once
// Google half of the emulator: the OAuth clients, authorization codes and
// tokens, and the Drive tree with its files, revisions, upload sessions and
// storage quota. Metadata is kept in "<dataDir>/google/state.json" and read
// back when an emulator starts on the same folder; content lives on disk in
// "<dataDir>/google/blobs", never whole in memory. Safe for concurrent use.
#include <nlohmann/json.hpp>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace calvora::devcloud {

using GoogleJson = nlohmann::ordered_json;

inline constexpr const char* kFolderMimeType = "application/vnd.google-apps.folder";
inline constexpr const char* kDriveFileScope = "https://www.googleapis.com/auth/drive.file";

// Streaming MD5.
class Md5Stream {
 public:
  Md5Stream();
  ~Md5Stream();
  Md5Stream(const Md5Stream&) = delete;
  Md5Stream& operator=(const Md5Stream&) = delete;
  void Update(const char* data, std::size_t size);
  // 32 lower-case hexadecimal digits; the stream is finished afterwards.
  std::string FinalHex();

 private:
  void* ctx_;
};

// Drive's keeping of old content: a revision that is neither the head nor
// kept forever goes 30 days after newer content arrived, and once a file
// holds more than 100 of them an upload of new content removes the oldest;
// at most 200 revisions of a file may be kept forever.
inline constexpr std::int64_t kRevisionPurgeAgeMs = 30LL * 24 * 3600 * 1000;
inline constexpr std::size_t kMaxPurgeableRevisions = 100;
inline constexpr int kMaxKeepForeverRevisions = 200;

struct DriveRevision {
  std::string id;
  std::int64_t modifiedMs = 0;  // Unix time, UTC milliseconds
  std::int64_t size = 0;
  std::string md5;
  bool keepForever = false;
  std::string originalFilename;
  std::string mimeType;
  std::string contentPath;  // the blob on disk
};

struct DriveFile {
  std::string id;
  std::string name;
  std::string mimeType;
  std::vector<std::string> parents;
  bool trashed = false;
  std::int64_t createdMs = 0;
  std::int64_t modifiedMs = 0;
  std::uint64_t sequence = 0;           // creation order: the order of listings
  std::vector<DriveRevision> revisions;  // content files only; the last is the head
  bool IsFolder() const { return mimeType == kFolderMimeType; }
  std::int64_t Size() const { return revisions.empty() ? 0 : revisions.back().size; }
  std::string Md5() const { return revisions.empty() ? std::string() : revisions.back().md5; }
};

// One line of ListTree().
struct DriveTreeEntry {
  std::string path;  // names from the root joined by "/"
  std::string id;
  bool folder = false;
  std::int64_t size = 0;
  std::string md5;
  int revisions = 0;
};

struct UploadSession {
  std::string id;
  std::string fileId;       // content update of this file; empty: a new file
  GoogleJson metadata;      // the session's metadata body
  std::int64_t total = -1;  // -1 while unknown
  std::int64_t received = 0;
  std::string path;  // the bytes received so far
  std::string fields;
  std::string completedFileId;  // set once the upload completed
  // MD5 of the bytes in arrival order; dropped (and computed from the file
  // at the end) once a chunk overlaps what had arrived.
  std::shared_ptr<Md5Stream> md5;
};

struct OAuthTokens {
  std::string accessToken;
  std::string refreshToken;
  int expiresIn = 0;
};

class GoogleState {
 public:
  explicit GoogleState(std::string dataDir);
  ~GoogleState();
  GoogleState(const GoogleState&) = delete;
  GoogleState& operator=(const GoogleState&) = delete;

  // ---- OAuth
  // With no client registered every client is accepted; once one is, only
  // registered clients with their secret are.
  void RegisterClient(const std::string& clientId, const std::string& clientSecret);
  bool CheckClient(const std::string& clientId, const std::string& clientSecret) const;
  bool KnownClient(const std::string& clientId) const;
  // An authorization code as the consent page issues it (valid 10 minutes,
  // once). `codeChallenge` empty: no PKCE.
  std::string MintAuthCode(const std::string& clientId, const std::string& redirectUri,
                           const std::string& codeChallenge, const std::string& challengeMethod = "S256",
                           bool offline = true, const std::string& scope = kDriveFileScope);
  // Access token (and refresh token) as the token endpoint issues them.
  OAuthTokens MintTokens(const std::string& clientId = "devcloud-client", int expiresInSeconds = -1);
  std::string MintAccessToken(int expiresInSeconds = -1);
  // Lifetime of the access tokens issued from now on (default 3599 s).
  void SetAccessTokenLifetime(int seconds);
  void ExpireAccessToken(const std::string& token);
  void ExpireAllAccessTokens();
  void RevokeRefreshToken(const std::string& token);
  bool IsValidAccessToken(const std::string& token) const;
  // How many grants of each kind the token endpoint answered with a token.
  int GrantCount(const std::string& grantType) const;

  // The token endpoint's answer to one grant: status 200 with tokens, or an
  // OAuth error ("invalid_grant", "invalid_client", ...) with its description.
  struct GrantResult {
    int status = 200;
    std::string error;
    std::string description;
    OAuthTokens tokens;
    bool ok() const { return error.empty(); }
  };
  // Authorization-code grant with PKCE verification (S256 or plain).
  GrantResult RedeemAuthCode(const std::string& code, const std::string& clientId, const std::string& clientSecret,
                             const std::string& redirectUri, const std::string& codeVerifier);
  GrantResult RedeemRefreshToken(const std::string& refreshToken, const std::string& clientId,
                                 const std::string& clientSecret);

  // ---- Drive tree
  std::string RootFolderId() const;
  // Resolves the alias "root".
  std::string ResolveId(const std::string& id) const;
  std::string AddFolder(const std::string& name, const std::string& parentId = "root");
  std::string AddFile(const std::string& name, const std::string& parentId, const std::string& content,
                      const std::string& mimeType = "application/octet-stream");
  // Adds a revision with this content and returns its identifier.
  std::string AddRevision(const std::string& fileId, const std::string& content);
  // Sets the modified time of the file and of its head revision.
  bool SetModifiedTime(const std::string& fileId, std::int64_t unixMs);
  // Seeds one revision's time or keep-forever flag (no limit checked).
  bool SetRevisionModifiedTime(const std::string& fileId, const std::string& revisionId, std::int64_t unixMs);
  bool SetRevisionKeepForever(const std::string& fileId, const std::string& revisionId, bool keepForever);
  // Drive's purge as of `nowMs`, over every file: the age rule always, the
  // count rule too when `byCount` (Drive applies it as new content comes).
  // The number of revisions removed.
  std::size_t PurgeRevisions(std::int64_t nowMs, bool byCount = true);
  bool SetTrashed(const std::string& fileId, bool trashed);
  std::optional<DriveFile> File(const std::string& id) const;
  std::vector<DriveFile> Children(const std::string& parentId, bool includeTrashed = false) const;
  std::vector<DriveFile> FilesNamed(const std::string& name) const;
  std::string ContentPath(const std::string& fileId) const;
  std::string Md5(const std::string& fileId) const;
  // Every file and folder below the root, depth first in listing order.
  std::vector<DriveTreeEntry> ListTree() const;
  std::size_t SessionCount() const;

  // ---- quota (bytes; 0: no limit)
  void SetQuotaLimit(std::int64_t bytes);
  std::int64_t QuotaLimit() const;
  std::int64_t UsageBytes() const;
  std::int64_t TrashUsageBytes() const;

  // ---- used by the request handlers (all lock internally)
  std::mutex& Lock() const { return lock_; }
  std::string ResolveIdLocked(const std::string& id) const { return id == "root" ? rootId_ : id; }
  std::int64_t QuotaLimitLocked() const { return quotaLimit_; }
  std::map<std::string, DriveFile>& FilesLocked() { return files_; }
  std::map<std::string, UploadSession>& SessionsLocked() { return sessions_; }
  std::string NewFileIdLocked();
  std::string NewRevisionIdLocked();
  std::string NewSessionIdLocked();
  std::uint64_t NextSequenceLocked() { return ++sequence_; }
  std::int64_t UsageBytesLocked() const;
  std::int64_t TrashUsageBytesLocked() const;
  std::string BlobDir() const { return root_ + "/blobs"; }
  std::string SessionDir() const { return root_ + "/sessions"; }
  std::size_t PurgeRevisionsLocked(DriveFile& file, std::int64_t nowMs, bool byCount);
  // Removes a file (and, for a folder, everything below it) with its blobs.
  void DeleteLocked(const std::string& id);
  void MarkDirtyLocked() { dirty_ = true; }
  // Asks for the state file to be written. Writes are gathered: at most one
  // a second (a background writer catches up), and always at the end, so a
  // run of ten thousand uploads does not rewrite the whole state each time.
  void Flush();
  // Writes now when something changed.
  void FlushNow();

 private:
  struct AuthCode {
    std::string clientId, redirectUri, challenge, method, scope;
    bool offline = true;
    std::int64_t expiresMs = 0;
  };
  struct AccessToken {
    std::string clientId, scope;
    std::int64_t expiresMs = 0;
  };
  struct RefreshToken {
    std::string clientId, scope;
    bool revoked = false;
  };

  OAuthTokens IssueTokensLocked(const std::string& clientId, const std::string& scope, bool withRefresh,
                                int expiresInSeconds);
  std::string WriteBlobLocked(const std::string& content, std::string& md5);
  void Load();
  void SaveLocked();

  void WriterLoop();

  std::string root_;
  mutable std::mutex lock_;
  bool dirty_ = false;
  std::int64_t lastSaveMs_ = 0;
  bool stopWriter_ = false;
  std::condition_variable writerWake_;
  std::thread writer_;
  std::uint64_t sequence_ = 0;
  std::string rootId_;
  std::int64_t quotaLimit_ = 0;
  int accessLifetime_ = 3599;
  std::map<std::string, std::string> clients_;
  std::map<std::string, AuthCode> codes_;
  std::map<std::string, AccessToken> accessTokens_;
  std::map<std::string, RefreshToken> refreshTokens_;
  std::map<std::string, int> grants_;
  std::map<std::string, DriveFile> files_;
  std::map<std::string, UploadSession> sessions_;
};

// Current Unix time in milliseconds.
std::int64_t NowUnixMs();
// "2024-03-05T10:00:00.123Z"
std::string FormatRfc3339Ms(std::int64_t unixMs);
std::string Md5Hex(const std::string& bytes);
// MD5 of a file's bytes; empty when it cannot be read.
std::string Md5OfFile(const std::string& path);

}  // namespace calvora::devcloud
