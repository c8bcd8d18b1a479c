#include "GoogleState.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

namespace calvora::devcloud {
namespace fs = std::filesystem;
namespace {

constexpr std::int64_t kAuthCodeLifetimeMs = 10 * 60 * 1000;

std::string RandomText(std::size_t length, const char* alphabet = nullptr) {
  static const char* kDefault = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  const char* chars = alphabet ? alphabet : kDefault;
  const std::size_t n = std::char_traits<char>::length(chars);
  thread_local std::mt19937_64 engine{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, n - 1);
  std::string out(length, ' ');
  for (char& c : out) c = chars[pick(engine)];
  return out;
}

std::string Base64UrlNoPad(const unsigned char* data, std::size_t size) {
  static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < size; i += 3) {
    unsigned v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (size - i == 1) {
    unsigned v = data[i] << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
  } else if (size - i == 2) {
    unsigned v = (data[i] << 16) | (data[i + 1] << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
  }
  return out;
}

std::string S256(const std::string& verifier) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(verifier.data(), verifier.size(), digest, &length, EVP_sha256(), nullptr);
  return Base64UrlNoPad(digest, length);
}

// RFC 7636: 43 to 128 characters of [A-Za-z0-9-._~].
bool WellFormedVerifier(const std::string& verifier) {
  if (verifier.size() < 43 || verifier.size() > 128) return false;
  return std::all_of(verifier.begin(), verifier.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
  });
}

GoogleJson RevisionToJson(const DriveRevision& r) {
  return {{"id", r.id},           {"modifiedMs", r.modifiedMs}, {"size", r.size},
          {"md5", r.md5},         {"keepForever", r.keepForever}, {"originalFilename", r.originalFilename},
          {"mimeType", r.mimeType}};
}

GoogleState::GrantResult GrantFailure(int status, const char* error, const char* description) {
  GoogleState::GrantResult result;
  result.status = status;
  result.error = error;
  result.description = description;
  return result;
}

}  // namespace

// ---------------------------------------------------------------- helpers

std::int64_t NowUnixMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string FormatRfc3339Ms(std::int64_t unixMs) {
  std::time_t seconds = static_cast<std::time_t>(unixMs / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(unixMs % 1000));
  return buffer;
}

Md5Stream::Md5Stream() : ctx_(EVP_MD_CTX_new()) {
  EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), EVP_md5(), nullptr);
}

Md5Stream::~Md5Stream() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }

void Md5Stream::Update(const char* data, std::size_t size) {
  EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, size);
}

std::string Md5Stream::FinalHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), digest, &length);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < length; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 15];
  }
  return out;
}

std::string Md5Hex(const std::string& bytes) {
  Md5Stream md5;
  md5.Update(bytes.data(), bytes.size());
  return md5.FinalHex();
}

std::string Md5OfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string();
  Md5Stream md5;
  std::vector<char> buffer(1 << 20);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    md5.Update(buffer.data(), static_cast<std::size_t>(in.gcount()));
  }
  return md5.FinalHex();
}

// ---------------------------------------------------------------- state

GoogleState::GoogleState(std::string dataDir) : root_(std::move(dataDir) + "/google") {
  std::error_code ec;
  fs::create_directories(BlobDir(), ec);
  fs::create_directories(SessionDir(), ec);
  Load();
  std::lock_guard<std::mutex> guard(lock_);
  if (rootId_.empty() || !files_.count(rootId_)) {
    DriveFile root;
    root.id = rootId_ = "0A" + RandomText(17, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    root.name = "My Drive";
    root.mimeType = kFolderMimeType;
    root.createdMs = root.modifiedMs = NowUnixMs();
    root.sequence = ++sequence_;
    files_[root.id] = root;
    dirty_ = true;
  }
}

GoogleState::~GoogleState() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopWriter_ = true;
  }
  writerWake_.notify_all();
  if (writer_.joinable()) writer_.join();
  FlushNow();
}

void GoogleState::Flush() {
  std::lock_guard<std::mutex> guard(lock_);
  if (!dirty_) return;
  if (NowUnixMs() - lastSaveMs_ >= 1000) {
    SaveLocked();
    return;
  }
  if (!writer_.joinable()) writer_ = std::thread([this] { WriterLoop(); });
}

void GoogleState::FlushNow() {
  std::lock_guard<std::mutex> guard(lock_);
  if (dirty_) SaveLocked();
}

void GoogleState::WriterLoop() {
  std::unique_lock<std::mutex> guard(lock_);
  while (!stopWriter_) {
    writerWake_.wait_for(guard, std::chrono::milliseconds(1000));
    if (dirty_ && NowUnixMs() - lastSaveMs_ >= 1000) SaveLocked();
  }
}

void GoogleState::SaveLocked() {
  GoogleJson state = GoogleJson::object();
  state["sequence"] = sequence_;
  state["rootId"] = rootId_;
  state["quotaLimit"] = quotaLimit_;
  state["accessLifetime"] = accessLifetime_;
  state["clients"] = clients_;
  GoogleJson access = GoogleJson::object();
  for (const auto& [token, t] : accessTokens_)
    access[token] = {{"clientId", t.clientId}, {"scope", t.scope}, {"expiresMs", t.expiresMs}};
  state["accessTokens"] = access;
  GoogleJson refresh = GoogleJson::object();
  for (const auto& [token, t] : refreshTokens_)
    refresh[token] = {{"clientId", t.clientId}, {"scope", t.scope}, {"revoked", t.revoked}};
  state["refreshTokens"] = refresh;
  GoogleJson files = GoogleJson::array();
  for (const auto& [id, f] : files_) {
    GoogleJson revisions = GoogleJson::array();
    for (const auto& r : f.revisions) revisions.push_back(RevisionToJson(r));
    files.push_back({{"id", f.id},
                     {"name", f.name},
                     {"mimeType", f.mimeType},
                     {"parents", f.parents},
                     {"trashed", f.trashed},
                     {"createdMs", f.createdMs},
                     {"modifiedMs", f.modifiedMs},
                     {"sequence", f.sequence},
                     {"revisions", revisions}});
  }
  state["files"] = files;
  GoogleJson sessions = GoogleJson::array();
  for (const auto& [id, s] : sessions_)
    sessions.push_back({{"id", s.id},
                        {"fileId", s.fileId},
                        {"metadata", s.metadata},
                        {"total", s.total},
                        {"received", s.received},
                        {"fields", s.fields},
                        {"completedFileId", s.completedFileId}});
  state["sessions"] = sessions;

  const std::string path = root_ + "/state.json";
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << state.dump(-1, ' ', false, GoogleJson::error_handler_t::replace);
    if (!out) return;  // keep the old file; the next flush tries again
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
  if (!ec) dirty_ = false;
  lastSaveMs_ = NowUnixMs();
}

void GoogleState::Load() {
  std::ifstream in(root_ + "/state.json", std::ios::binary);
  if (!in) return;
  std::stringstream text;
  text << in.rdbuf();
  GoogleJson state = GoogleJson::parse(text.str(), nullptr, false);
  if (!state.is_object()) return;
  std::lock_guard<std::mutex> guard(lock_);
  sequence_ = state.value("sequence", std::uint64_t{0});
  rootId_ = state.value("rootId", std::string());
  quotaLimit_ = state.value("quotaLimit", std::int64_t{0});
  accessLifetime_ = state.value("accessLifetime", 3599);
  if (state.contains("clients") && state["clients"].is_object())
    for (const auto& [id, secret] : state["clients"].items()) clients_[id] = secret.get<std::string>();
  if (state.contains("accessTokens"))
    for (const auto& [token, t] : state["accessTokens"].items())
      accessTokens_[token] = {t.value("clientId", ""), t.value("scope", ""), t.value("expiresMs", std::int64_t{0})};
  if (state.contains("refreshTokens"))
    for (const auto& [token, t] : state["refreshTokens"].items())
      refreshTokens_[token] = {t.value("clientId", ""), t.value("scope", ""), t.value("revoked", false)};
  if (state.contains("files"))
    for (const auto& item : state["files"]) {
      DriveFile f;
      f.id = item.value("id", "");
      f.name = item.value("name", "");
      f.mimeType = item.value("mimeType", "");
      if (item.contains("parents")) f.parents = item["parents"].get<std::vector<std::string>>();
      f.trashed = item.value("trashed", false);
      f.createdMs = item.value("createdMs", std::int64_t{0});
      f.modifiedMs = item.value("modifiedMs", std::int64_t{0});
      f.sequence = item.value("sequence", std::uint64_t{0});
      if (item.contains("revisions"))
        for (const auto& r : item["revisions"]) {
          DriveRevision rev;
          rev.id = r.value("id", "");
          rev.modifiedMs = r.value("modifiedMs", std::int64_t{0});
          rev.size = r.value("size", std::int64_t{0});
          rev.md5 = r.value("md5", "");
          rev.keepForever = r.value("keepForever", false);
          rev.originalFilename = r.value("originalFilename", "");
          rev.mimeType = r.value("mimeType", "");
          rev.contentPath = BlobDir() + "/" + rev.id;
          f.revisions.push_back(rev);
        }
      if (!f.id.empty()) files_[f.id] = f;
    }
  if (state.contains("sessions"))
    for (const auto& item : state["sessions"]) {
      UploadSession s;
      s.id = item.value("id", "");
      s.fileId = item.value("fileId", "");
      s.metadata = item.value("metadata", GoogleJson::object());
      s.total = item.value("total", std::int64_t{-1});
      s.received = item.value("received", std::int64_t{0});
      s.fields = item.value("fields", "");
      s.completedFileId = item.value("completedFileId", "");
      s.path = SessionDir() + "/" + s.id;
      if (!s.id.empty()) sessions_[s.id] = s;  // no MD5 stream: computed from the file at the end
    }
}

// ---------------------------------------------------------------- OAuth

void GoogleState::RegisterClient(const std::string& clientId, const std::string& clientSecret) {
  std::lock_guard<std::mutex> guard(lock_);
  clients_[clientId] = clientSecret;
  dirty_ = true;
}

bool GoogleState::KnownClient(const std::string& clientId) const {
  std::lock_guard<std::mutex> guard(lock_);
  return clients_.empty() ? !clientId.empty() : clients_.count(clientId) > 0;
}

bool GoogleState::CheckClient(const std::string& clientId, const std::string& clientSecret) const {
  std::lock_guard<std::mutex> guard(lock_);
  if (clientId.empty()) return false;
  if (clients_.empty()) return true;
  auto it = clients_.find(clientId);
  return it != clients_.end() && it->second == clientSecret;
}

std::string GoogleState::MintAuthCode(const std::string& clientId, const std::string& redirectUri,
                                      const std::string& codeChallenge, const std::string& challengeMethod,
                                      bool offline, const std::string& scope) {
  std::lock_guard<std::mutex> guard(lock_);
  std::string code = "4/0" + RandomText(70);
  codes_[code] = {clientId, redirectUri, codeChallenge, challengeMethod, scope, offline,
                  NowUnixMs() + kAuthCodeLifetimeMs};
  return code;
}

OAuthTokens GoogleState::IssueTokensLocked(const std::string& clientId, const std::string& scope, bool withRefresh,
                                           int expiresInSeconds) {
  OAuthTokens tokens;
  tokens.expiresIn = expiresInSeconds >= 0 ? expiresInSeconds : accessLifetime_;
  tokens.accessToken = "ya29." + RandomText(120);
  accessTokens_[tokens.accessToken] = {clientId, scope, NowUnixMs() + tokens.expiresIn * 1000LL};
  if (withRefresh) {
    tokens.refreshToken = "1//0" + RandomText(96);
    refreshTokens_[tokens.refreshToken] = {clientId, scope, false};
  }
  dirty_ = true;
  return tokens;
}

OAuthTokens GoogleState::MintTokens(const std::string& clientId, int expiresInSeconds) {
  std::lock_guard<std::mutex> guard(lock_);
  return IssueTokensLocked(clientId, kDriveFileScope, true, expiresInSeconds);
}

std::string GoogleState::MintAccessToken(int expiresInSeconds) {
  std::lock_guard<std::mutex> guard(lock_);
  return IssueTokensLocked("devcloud-client", kDriveFileScope, false, expiresInSeconds).accessToken;
}

void GoogleState::SetAccessTokenLifetime(int seconds) {
  std::lock_guard<std::mutex> guard(lock_);
  accessLifetime_ = seconds;
  dirty_ = true;
}

void GoogleState::ExpireAccessToken(const std::string& token) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = accessTokens_.find(token);
  if (it != accessTokens_.end()) it->second.expiresMs = 0;
  dirty_ = true;
}

void GoogleState::ExpireAllAccessTokens() {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto& [token, t] : accessTokens_) t.expiresMs = 0;
  dirty_ = true;
}

void GoogleState::RevokeRefreshToken(const std::string& token) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = refreshTokens_.find(token);
  if (it != refreshTokens_.end()) it->second.revoked = true;
  dirty_ = true;
}

bool GoogleState::IsValidAccessToken(const std::string& token) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = accessTokens_.find(token);
  return it != accessTokens_.end() && it->second.expiresMs > NowUnixMs();
}

int GoogleState::GrantCount(const std::string& grantType) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = grants_.find(grantType);
  return it == grants_.end() ? 0 : it->second;
}

GoogleState::GrantResult GoogleState::RedeemAuthCode(const std::string& code, const std::string& clientId,
                                                     const std::string& clientSecret, const std::string& redirectUri,
                                                     const std::string& codeVerifier) {
  GrantResult result;
  if (code.empty()) return GrantFailure(400, "invalid_request", "Missing required parameter: code");
  if (redirectUri.empty()) return GrantFailure(400, "invalid_request", "Missing required parameter: redirect_uri");
  if (!CheckClient(clientId, clientSecret)) return GrantFailure(401, "invalid_client", "Unauthorized");

  std::lock_guard<std::mutex> guard(lock_);
  auto it = codes_.find(code);
  if (it == codes_.end()) return GrantFailure(400, "invalid_grant", "Malformed auth code.");
  AuthCode issued = it->second;
  if (issued.expiresMs <= NowUnixMs()) {
    codes_.erase(it);
    return GrantFailure(400, "invalid_grant", "Bad Request");
  }
  if (issued.clientId != clientId) return GrantFailure(400, "invalid_grant", "Bad Request");
  if (issued.redirectUri != redirectUri) return GrantFailure(400, "redirect_uri_mismatch", "Bad Request");
  if (!issued.challenge.empty()) {
    if (codeVerifier.empty()) return GrantFailure(400, "invalid_grant", "Missing code verifier.");
    std::string expected = issued.method == "plain" ? codeVerifier : S256(codeVerifier);
    if (!WellFormedVerifier(codeVerifier) || expected != issued.challenge)
      return GrantFailure(400, "invalid_grant", "Invalid code verifier.");
  }
  codes_.erase(it);  // a code is good for one exchange
  result.tokens = IssueTokensLocked(clientId, issued.scope, issued.offline, -1);
  ++grants_["authorization_code"];
  return result;
}

GoogleState::GrantResult GoogleState::RedeemRefreshToken(const std::string& refreshToken, const std::string& clientId,
                                                         const std::string& clientSecret) {
  GrantResult result;
  if (refreshToken.empty()) return GrantFailure(400, "invalid_request", "Missing required parameter: refresh_token");
  if (!CheckClient(clientId, clientSecret)) return GrantFailure(401, "invalid_client", "Unauthorized");
  std::lock_guard<std::mutex> guard(lock_);
  auto it = refreshTokens_.find(refreshToken);
  if (it == refreshTokens_.end() || it->second.revoked)
    return GrantFailure(400, "invalid_grant", "Token has been expired or revoked.");
  if (!clients_.empty() && it->second.clientId != clientId) return GrantFailure(400, "unauthorized_client", "Unauthorized");
  result.tokens = IssueTokensLocked(it->second.clientId, it->second.scope, false, -1);
  ++grants_["refresh_token"];
  return result;
}

// ---------------------------------------------------------------- Drive tree

std::string GoogleState::RootFolderId() const {
  std::lock_guard<std::mutex> guard(lock_);
  return rootId_;
}

std::string GoogleState::ResolveId(const std::string& id) const { return id == "root" ? RootFolderId() : id; }

std::string GoogleState::NewFileIdLocked() {
  std::string id;
  do id = "1" + RandomText(32);
  while (files_.count(id));
  return id;
}

std::string GoogleState::NewRevisionIdLocked() {
  return "0B" + RandomText(40, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
}

std::string GoogleState::NewSessionIdLocked() {
  return "ADPycd" + RandomText(70, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
}

std::string GoogleState::WriteBlobLocked(const std::string& content, std::string& md5) {
  std::string id = NewRevisionIdLocked();
  std::ofstream out(BlobDir() + "/" + id, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  md5 = Md5Hex(content);
  return id;
}

namespace {

// Drive keeps names as Unicode text: bytes that are not UTF-8 arrive as
// U+FFFD, so every later answer and query sees valid text.
std::string ValidName(const std::string& name) {
  return GoogleJson::parse(GoogleJson(name).dump(-1, ' ', false, GoogleJson::error_handler_t::replace))
      .get<std::string>();
}

}  // namespace

std::string GoogleState::AddFolder(const std::string& name, const std::string& parentId) {
  std::string parent = ResolveId(parentId);
  std::lock_guard<std::mutex> guard(lock_);
  DriveFile f;
  f.id = NewFileIdLocked();
  f.name = ValidName(name);
  f.mimeType = kFolderMimeType;
  f.parents = {parent.empty() ? rootId_ : parent};
  f.createdMs = f.modifiedMs = NowUnixMs();
  f.sequence = ++sequence_;
  files_[f.id] = f;
  dirty_ = true;
  return f.id;
}

std::string GoogleState::AddFile(const std::string& name, const std::string& parentId, const std::string& content,
                                 const std::string& mimeType) {
  std::string parent = ResolveId(parentId);
  std::lock_guard<std::mutex> guard(lock_);
  DriveFile f;
  f.id = NewFileIdLocked();
  f.name = ValidName(name);
  f.mimeType = mimeType;
  f.parents = {parent.empty() ? rootId_ : parent};
  f.createdMs = f.modifiedMs = NowUnixMs();
  f.sequence = ++sequence_;
  DriveRevision r;
  r.id = WriteBlobLocked(content, r.md5);
  r.contentPath = BlobDir() + "/" + r.id;
  r.size = static_cast<std::int64_t>(content.size());
  r.modifiedMs = f.modifiedMs;
  r.originalFilename = f.name;
  r.mimeType = mimeType;
  f.revisions.push_back(r);
  files_[f.id] = f;
  dirty_ = true;
  return f.id;
}

std::string GoogleState::AddRevision(const std::string& fileId, const std::string& content) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = files_.find(fileId);
  if (it == files_.end() || it->second.IsFolder()) return std::string();
  DriveRevision r;
  r.id = WriteBlobLocked(content, r.md5);
  r.contentPath = BlobDir() + "/" + r.id;
  r.size = static_cast<std::int64_t>(content.size());
  r.modifiedMs = std::max(NowUnixMs(), it->second.modifiedMs + 1);
  r.originalFilename = it->second.name;
  r.mimeType = it->second.mimeType;
  it->second.revisions.push_back(r);
  it->second.modifiedMs = r.modifiedMs;
  dirty_ = true;
  return r.id;
}

bool GoogleState::SetModifiedTime(const std::string& fileId, std::int64_t unixMs) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = files_.find(fileId);
  if (it == files_.end()) return false;
  it->second.modifiedMs = unixMs;
  if (!it->second.revisions.empty()) it->second.revisions.back().modifiedMs = unixMs;
  dirty_ = true;
  return true;
}

bool GoogleState::SetRevisionModifiedTime(const std::string& fileId, const std::string& revisionId,
                                          std::int64_t unixMs) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = files_.find(fileId);
  if (it == files_.end()) return false;
  for (auto& r : it->second.revisions) {
    if (r.id != revisionId) continue;
    r.modifiedMs = unixMs;
    if (&r == &it->second.revisions.back()) it->second.modifiedMs = unixMs;
    dirty_ = true;
    return true;
  }
  return false;
}

bool GoogleState::SetRevisionKeepForever(const std::string& fileId, const std::string& revisionId, bool keepForever) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = files_.find(fileId);
  if (it == files_.end()) return false;
  for (auto& r : it->second.revisions) {
    if (r.id != revisionId) continue;
    r.keepForever = keepForever;
    dirty_ = true;
    return true;
  }
  return false;
}

std::size_t GoogleState::PurgeRevisions(std::int64_t nowMs, bool byCount) {
  std::size_t removed = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& entry : files_) removed += PurgeRevisionsLocked(entry.second, nowMs, byCount);
  }
  if (removed > 0) Flush();
  return removed;
}

std::size_t GoogleState::PurgeRevisionsLocked(DriveFile& file, std::int64_t nowMs, bool byCount) {
  auto& revisions = file.revisions;
  if (revisions.size() < 2) return 0;
  // Index i is purgeable when it is not the head and not kept forever; its
  // age runs from the moment the next content arrived.
  std::vector<bool> drop(revisions.size(), false);
  std::size_t purgeable = 0;
  for (std::size_t i = 0; i + 1 < revisions.size(); ++i) {
    if (revisions[i].keepForever) continue;
    if (nowMs - revisions[i + 1].modifiedMs > kRevisionPurgeAgeMs)
      drop[i] = true;
    else
      ++purgeable;
  }
  for (std::size_t i = 0; byCount && purgeable > kMaxPurgeableRevisions && i + 1 < revisions.size(); ++i) {
    if (revisions[i].keepForever || drop[i]) continue;
    drop[i] = true;  // oldest first
    --purgeable;
  }
  const std::size_t removed = static_cast<std::size_t>(std::count(drop.begin(), drop.end(), true));
  if (removed == 0) return 0;
  std::vector<DriveRevision> kept;
  std::error_code ec;
  for (std::size_t i = 0; i < revisions.size(); ++i) {
    if (!drop[i]) {
      kept.push_back(std::move(revisions[i]));
      continue;
    }
    fs::remove(revisions[i].contentPath, ec);
  }
  revisions = std::move(kept);
  dirty_ = true;
  return removed;
}

bool GoogleState::SetTrashed(const std::string& fileId, bool trashed) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = files_.find(fileId);
  if (it == files_.end()) return false;
  it->second.trashed = trashed;
  dirty_ = true;
  return true;
}

std::optional<DriveFile> GoogleState::File(const std::string& id) const {
  std::string resolved = ResolveId(id);
  std::lock_guard<std::mutex> guard(lock_);
  auto it = files_.find(resolved);
  if (it == files_.end()) return std::nullopt;
  return it->second;
}

std::vector<DriveFile> GoogleState::Children(const std::string& parentId, bool includeTrashed) const {
  std::string parent = ResolveId(parentId);
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<DriveFile> out;
  for (const auto& [id, f] : files_)
    if ((includeTrashed || !f.trashed) && std::find(f.parents.begin(), f.parents.end(), parent) != f.parents.end())
      out.push_back(f);
  std::sort(out.begin(), out.end(), [](const DriveFile& a, const DriveFile& b) { return a.sequence < b.sequence; });
  return out;
}

std::vector<DriveFile> GoogleState::FilesNamed(const std::string& name) const {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<DriveFile> out;
  for (const auto& [id, f] : files_)
    if (f.name == name) out.push_back(f);
  std::sort(out.begin(), out.end(), [](const DriveFile& a, const DriveFile& b) { return a.sequence < b.sequence; });
  return out;
}

std::string GoogleState::ContentPath(const std::string& fileId) const {
  auto f = File(fileId);
  return f && !f->revisions.empty() ? f->revisions.back().contentPath : std::string();
}

std::string GoogleState::Md5(const std::string& fileId) const {
  auto f = File(fileId);
  return f ? f->Md5() : std::string();
}

std::vector<DriveTreeEntry> GoogleState::ListTree() const {
  std::vector<DriveTreeEntry> out;
  std::function<void(const std::string&, const std::string&)> walk = [&](const std::string& id,
                                                                        const std::string& prefix) {
    for (const DriveFile& f : Children(id, true)) {
      DriveTreeEntry entry;
      entry.path = prefix.empty() ? f.name : prefix + "/" + f.name;
      entry.id = f.id;
      entry.folder = f.IsFolder();
      entry.size = f.Size();
      entry.md5 = f.Md5();
      entry.revisions = static_cast<int>(f.revisions.size());
      out.push_back(entry);
      if (entry.folder) walk(f.id, entry.path);
    }
  };
  walk(RootFolderId(), "");
  return out;
}

std::size_t GoogleState::SessionCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  std::size_t open = 0;
  for (const auto& [id, s] : sessions_)
    if (s.completedFileId.empty()) ++open;
  return open;
}

void GoogleState::DeleteLocked(const std::string& id) {
  auto it = files_.find(id);
  if (it == files_.end()) return;
  std::vector<std::string> children;
  for (const auto& [childId, f] : files_)
    if (std::find(f.parents.begin(), f.parents.end(), id) != f.parents.end()) children.push_back(childId);
  for (const auto& child : children) DeleteLocked(child);
  it = files_.find(id);
  if (it == files_.end()) return;
  std::error_code ec;
  for (const auto& r : it->second.revisions) fs::remove(r.contentPath, ec);
  files_.erase(it);
  dirty_ = true;
}

// ---------------------------------------------------------------- quota

void GoogleState::SetQuotaLimit(std::int64_t bytes) {
  std::lock_guard<std::mutex> guard(lock_);
  quotaLimit_ = bytes > 0 ? bytes : 0;
  dirty_ = true;
}

std::int64_t GoogleState::QuotaLimit() const {
  std::lock_guard<std::mutex> guard(lock_);
  return quotaLimit_;
}

std::int64_t GoogleState::UsageBytesLocked() const {
  std::int64_t total = 0;
  for (const auto& [id, f] : files_)
    for (const auto& r : f.revisions) total += r.size;
  return total;
}

std::int64_t GoogleState::TrashUsageBytesLocked() const {
  std::int64_t total = 0;
  for (const auto& [id, f] : files_)
    if (f.trashed)
      for (const auto& r : f.revisions) total += r.size;
  return total;
}

std::int64_t GoogleState::UsageBytes() const {
  std::lock_guard<std::mutex> guard(lock_);
  return UsageBytesLocked();
}

std::int64_t GoogleState::TrashUsageBytes() const {
  std::lock_guard<std::mutex> guard(lock_);
  return TrashUsageBytesLocked();
}

}  // namespace calvora::devcloud
