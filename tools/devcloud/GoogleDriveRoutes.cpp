// Drive v3 half of the emulator's Google routes: files, folders, listings,
// uploads (multipart, media, resumable sessions), downloads, revisions and
// the storage quota. Every route but the session address checks the bearer
// token.
#include "DevCloud.h"
#include "DriveQuery.h"
#include "GoogleHttp.h"
#include "GoogleState.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace calvora::devcloud {
namespace {
namespace fs = std::filesystem;

constexpr std::int64_t kResumableGranularity = 256 * 1024;
constexpr const char* kDefaultFileFields = "kind,id,name,mimeType";
constexpr const char* kDefaultRevisionFields = "kind,id,mimeType,modifiedTime";

using Req = httplib::Request;
using Res = httplib::Response;
using Reader = httplib::ContentReader;

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// ---------------------------------------------------------------- resources

GoogleJson FileResource(const DriveFile& f) {
  GoogleJson j = {{"kind", "drive#file"}, {"id", f.id}, {"name", f.name}, {"mimeType", f.mimeType}};
  j["parents"] = f.parents;
  j["trashed"] = f.trashed;
  if (!f.IsFolder()) {
    j["size"] = std::to_string(f.Size());
    j["md5Checksum"] = f.Md5();
  }
  j["createdTime"] = FormatRfc3339Ms(f.createdMs);
  j["modifiedTime"] = FormatRfc3339Ms(f.modifiedMs);
  if (!f.revisions.empty()) {
    j["headRevisionId"] = f.revisions.back().id;
    j["originalFilename"] = f.revisions.back().originalFilename;
  }
  return j;
}

GoogleJson RevisionResource(const DriveRevision& r) {
  return {{"kind", "drive#revision"},
          {"id", r.id},
          {"mimeType", r.mimeType},
          {"modifiedTime", FormatRfc3339Ms(r.modifiedMs)},
          {"keepForever", r.keepForever},
          {"published", false},
          {"originalFilename", r.originalFilename},
          {"md5Checksum", r.md5},
          {"size", std::to_string(r.size)}};
}

// The "fields" selection of a request (or the method's default); false with
// a 400 answer when it does not parse.
bool RequestMask(const Req& req, Res& res, const std::string& fallback, FieldMask& mask) {
  std::string text = req.has_param("fields") ? req.get_param_value("fields") : fallback;
  std::string error;
  if (!FieldMask::Parse(text, mask, error)) {
    SendGoogleError(res, 400, "invalidParameter", "Invalid field selection " + text);
    return false;
  }
  return true;
}

void SendMasked(Res& res, int status, const FieldMask& mask, const GoogleJson& resource) {
  SendJson(res, status, mask.Apply(resource));
}

void SendNotFound(Res& res, const std::string& id) {
  SendGoogleError(res, 404, "notFound", "File not found: " + id + ".");
}

void SendQuotaExceeded(Res& res) {
  SendGoogleError(res, 403, "storageQuotaExceeded", "The user's Drive storage quota has been exceeded.");
}

bool Authorized(GoogleState& google, const Req& req, Res& res) {
  const std::string header = req.get_header_value("Authorization");
  const std::string prefix = "Bearer ";
  if (header.size() > prefix.size() && header.compare(0, prefix.size(), prefix) == 0 &&
      google.IsValidAccessToken(header.substr(prefix.size())))
    return true;
  res.set_header("WWW-Authenticate", "Bearer realm=\"https://accounts.google.com/\", error=\"invalid_token\"");
  SendGoogleError(res, 401, "authError", "Invalid Credentials");
  return false;
}

// Bodied routes read (or drain) their body before answering, so the
// connection stays in step; a refused token still drains it.
bool AuthorizedDraining(DevCloud& cloud, GoogleState& google, const Req& req, Res& res, const Reader& reader) {
  if (Authorized(google, req, res)) return true;
  Res scratch;
  DiscardBody(cloud, req, scratch, reader);
  return false;
}

std::string RequestBaseUrl(DevCloud& cloud, const Req& req) {
  std::string host = req.get_header_value("Host");
  return host.empty() ? cloud.BaseUrl() : "http://" + host;
}

// ---------------------------------------------------------------- content on disk

// Streams the body into `path` (created or truncated), with its MD5.
bool ReceiveToNewFile(DevCloud& cloud, const Req& req, Res& res, const Reader& reader, const std::string& path,
                      std::int64_t& size, std::string& md5) {
  std::vector<char> buffer(1 << 20);  // outlives the stream that uses it
  FilePtr out(std::fopen(path.c_str(), "wb"));
  if (!out) {
    DiscardBody(cloud, req, res, reader);
    SendGoogleError(res, 500, "internalError", "Cannot store content");
    return false;
  }
  std::setvbuf(out.get(), buffer.data(), _IOFBF, buffer.size());
  Md5Stream hash;
  size = 0;
  bool writeFailed = false;
  bool ok = cloud.ReceiveBody(req, res, reader, [&](const char* data, size_t n) {
    if (std::fwrite(data, 1, n, out.get()) != n) {
      writeFailed = true;
      return false;
    }
    hash.Update(data, n);
    size += static_cast<std::int64_t>(n);
    return true;
  });
  if (std::fflush(out.get()) != 0) writeFailed = true;
  out.reset();
  if (!ok || writeFailed) {
    std::error_code ec;
    fs::remove(path, ec);
    if (writeFailed) SendGoogleError(res, 500, "internalError", "Cannot store content");
    return false;
  }
  md5 = hash.FinalHex();
  return true;
}

void ServeBlob(Res& res, const std::string& path, std::int64_t size, const std::string& mimeType) {
  const std::string type = mimeType.empty() ? "application/octet-stream" : mimeType;
  if (size == 0) {
    res.status = 200;
    res.set_content("", type);
    return;
  }
  std::shared_ptr<FILE> file(std::fopen(path.c_str(), "rb"), [](FILE* f) {
    if (f) std::fclose(f);
  });
  if (!file) return SendGoogleError(res, 500, "internalError", "Content missing");
  auto buffer = std::make_shared<std::vector<char>>(1 << 20);
  res.status = 200;
  res.set_content_provider(static_cast<size_t>(size), type,
                           [file, buffer](size_t offset, size_t length, httplib::DataSink& sink) {
                             if (fseeko(file.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return false;
                             size_t n = std::fread(buffer->data(), 1, std::min(length, buffer->size()), file.get());
                             if (n == 0) return false;
                             return sink.write(buffer->data(), n);
                           });
}

// A new head revision from a finished blob file (moved into the blob folder).
DriveRevision MakeRevisionLocked(GoogleState& google, const std::string& blobSource, std::int64_t size,
                                 const std::string& md5, const std::string& originalFilename,
                                 const std::string& mimeType, std::int64_t notBeforeMs) {
  DriveRevision r;
  r.id = google.NewRevisionIdLocked();
  r.contentPath = google.BlobDir() + "/" + r.id;
  std::error_code ec;
  fs::rename(blobSource, r.contentPath, ec);
  r.size = size;
  r.md5 = md5;
  r.modifiedMs = std::max(NowUnixMs(), notBeforeMs + 1);
  r.originalFilename = originalFilename;
  r.mimeType = mimeType;
  return r;
}

// Checks metadata "parents" of a new file; empty `missing` when all are folders.
bool ResolveParentsLocked(GoogleState& google, const GoogleJson& metadata, std::vector<std::string>& parents,
                          std::string& missing) {
  parents.clear();
  if (metadata.contains("parents") && metadata["parents"].is_array()) {
    for (const auto& p : metadata["parents"]) {
      if (!p.is_string()) continue;
      std::string id = google.ResolveIdLocked(p.get<std::string>());
      auto it = google.FilesLocked().find(id);
      if (it == google.FilesLocked().end() || !it->second.IsFolder()) {
        missing = p.get<std::string>();
        return false;
      }
      parents.push_back(id);
    }
  }
  if (parents.empty()) parents.push_back(google.ResolveIdLocked("root"));
  return true;
}

std::string MetaString(const GoogleJson& metadata, const char* key, const std::string& fallback) {
  if (metadata.is_object() && metadata.contains(key) && metadata[key].is_string()) return metadata[key];
  return fallback;
}

// Creates a file from metadata and a finished blob; answers the request
// with `status` (Drive answers a completed resumable upload of a new file
// with 201, every other creation with 200).
void CreateFileWithContent(GoogleState& google, Res& res, const FieldMask& mask, const GoogleJson& metadata,
                           const std::string& blob, std::int64_t size, const std::string& md5,
                           const std::string& fallbackMime, int status = 200) {
  GoogleJson answer;
  {
    std::lock_guard<std::mutex> guard(google.Lock());
    std::vector<std::string> parents;
    std::string missing;
    std::error_code ec;
    if (!ResolveParentsLocked(google, metadata, parents, missing)) {
      fs::remove(blob, ec);
      return SendNotFound(res, missing);
    }
    const std::int64_t limit = google.QuotaLimitLocked();
    if (limit > 0 && google.UsageBytesLocked() + size > limit) {
      fs::remove(blob, ec);
      return SendQuotaExceeded(res);
    }
    DriveFile f;
    f.id = google.NewFileIdLocked();
    f.name = MetaString(metadata, "name", "Untitled");
    f.mimeType = MetaString(metadata, "mimeType", fallbackMime.empty() ? "application/octet-stream" : fallbackMime);
    f.parents = parents;
    f.createdMs = NowUnixMs();
    f.sequence = google.NextSequenceLocked();
    if (f.IsFolder()) {
      fs::remove(blob, ec);
    } else {
      f.revisions.push_back(MakeRevisionLocked(google, blob, size, md5, f.name, f.mimeType, 0));
      f.modifiedMs = f.createdMs = f.revisions.back().modifiedMs;
    }
    if (f.modifiedMs == 0) f.modifiedMs = f.createdMs;
    google.FilesLocked()[f.id] = f;
    google.MarkDirtyLocked();
    answer = FileResource(f);
  }
  SendMasked(res, status, mask, answer);
  google.Flush();
}

// New content for an existing file; answers the request.
void AddContent(GoogleState& google, Res& res, const FieldMask& mask, const std::string& fileId,
                const GoogleJson& metadata, const std::string& blob, std::int64_t size, const std::string& md5) {
  GoogleJson answer;
  {
    std::lock_guard<std::mutex> guard(google.Lock());
    std::error_code ec;
    auto it = google.FilesLocked().find(google.ResolveIdLocked(fileId));
    if (it == google.FilesLocked().end()) {
      fs::remove(blob, ec);
      return SendNotFound(res, fileId);
    }
    DriveFile& f = it->second;
    if (f.IsFolder()) {
      fs::remove(blob, ec);
      return SendGoogleError(res, 403, "fileNotUploadable", "A folder cannot carry content.");
    }
    const std::int64_t limit = google.QuotaLimitLocked();
    if (limit > 0 && google.UsageBytesLocked() + size > limit) {
      fs::remove(blob, ec);
      return SendQuotaExceeded(res);
    }
    f.name = MetaString(metadata, "name", f.name);
    // Every content update keeps the previous content as a revision.
    f.revisions.push_back(MakeRevisionLocked(google, blob, size, md5, f.name, f.mimeType, f.modifiedMs));
    f.modifiedMs = f.revisions.back().modifiedMs;
    google.PurgeRevisionsLocked(f, NowUnixMs(), true);
    google.MarkDirtyLocked();
    answer = FileResource(f);
  }
  SendMasked(res, 200, mask, answer);
  google.Flush();
}

// ---------------------------------------------------------------- multipart

std::string BoundaryOf(const std::string& contentType) {
  size_t at = contentType.find("boundary=");
  if (at == std::string::npos) return std::string();
  std::string b = contentType.substr(at + 9);
  size_t end = b.find(';');
  if (end != std::string::npos) b.resize(end);
  if (b.size() >= 2 && b.front() == '"' && b.back() == '"') b = b.substr(1, b.size() - 2);
  return b;
}

// Finds the metadata part and the content part of a multipart/related body
// stored in `path`.
bool ParseMultipart(const std::string& path, const std::string& boundary, GoogleJson& metadata,
                    std::string& contentType, std::int64_t& contentStart, std::int64_t& contentLength) {
  std::error_code ec;
  const std::int64_t size = static_cast<std::int64_t>(fs::file_size(path, ec));
  if (ec) return false;
  std::ifstream in(path, std::ios::binary);
  std::string head(static_cast<size_t>(std::min<std::int64_t>(size, 1 << 20)), '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  const std::string delimiter = "--" + boundary;
  size_t p = head.find(delimiter);
  if (p == std::string::npos) return false;
  p += delimiter.size();
  if (head.compare(p, 2, "\r\n") != 0) return false;
  size_t headersEnd = head.find("\r\n\r\n", p);
  if (headersEnd == std::string::npos) return false;
  size_t jsonStart = headersEnd + 4;
  size_t next = head.find("\r\n" + delimiter, jsonStart);
  if (next == std::string::npos) return false;
  metadata = GoogleJson::parse(head.substr(jsonStart, next - jsonStart), nullptr, false);
  if (!metadata.is_object()) return false;
  p = next + 2 + delimiter.size();
  if (head.compare(p, 2, "\r\n") != 0) return false;
  headersEnd = head.find("\r\n\r\n", p);
  if (headersEnd == std::string::npos) return false;
  std::string partHeaders = head.substr(p + 2, headersEnd - p - 2);
  size_t ct = partHeaders.find("Content-Type:");
  if (ct == std::string::npos) ct = partHeaders.find("content-type:");
  if (ct != std::string::npos) {
    size_t lineEnd = partHeaders.find("\r\n", ct);
    contentType = partHeaders.substr(ct + 13, lineEnd == std::string::npos ? std::string::npos : lineEnd - ct - 13);
    contentType.erase(0, contentType.find_first_not_of(' '));
  }
  contentStart = static_cast<std::int64_t>(headersEnd + 4);

  const std::string closing = "\r\n" + delimiter + "--";
  const std::int64_t tailSize = std::min<std::int64_t>(size, 4096);
  std::string tail(static_cast<size_t>(tailSize), '\0');
  in.clear();
  in.seekg(size - tailSize);
  in.read(tail.data(), tailSize);
  size_t close = tail.rfind(closing);
  if (close == std::string::npos) return false;
  const std::int64_t contentEnd = size - tailSize + static_cast<std::int64_t>(close);
  if (contentEnd < contentStart) return false;
  contentLength = contentEnd - contentStart;
  return true;
}

// Copies a byte range of one file into a new file, with its MD5.
bool ExtractRange(const std::string& source, std::int64_t start, std::int64_t length, const std::string& target,
                  std::string& md5) {
  std::ifstream in(source, std::ios::binary);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  if (!in || !out) return false;
  in.seekg(start);
  Md5Stream hash;
  std::vector<char> buffer(1 << 20);
  while (length > 0) {
    std::streamsize n = static_cast<std::streamsize>(std::min<std::int64_t>(length, buffer.size()));
    in.read(buffer.data(), n);
    if (in.gcount() != n) return false;
    out.write(buffer.data(), n);
    hash.Update(buffer.data(), static_cast<size_t>(n));
    length -= n;
  }
  md5 = hash.FinalHex();
  return static_cast<bool>(out);
}

// Receives a multipart/related body; fills metadata and a blob with the content.
bool ReceiveMultipart(DevCloud& cloud, GoogleState& google, const Req& req, Res& res, const Reader& reader,
                      GoogleJson& metadata, std::string& blob, std::int64_t& size, std::string& md5,
                      std::string& contentType) {
  const std::string boundary = BoundaryOf(req.get_header_value("Content-Type"));
  if (req.get_header_value("Content-Type").rfind("multipart/related", 0) != 0 || boundary.empty()) {
    DiscardBody(cloud, req, res, reader);
    SendGoogleError(res, 400, "badContent", "Multipart upload needs a multipart/related body with a boundary.");
    return false;
  }
  std::string raw;
  {
    std::lock_guard<std::mutex> guard(google.Lock());
    raw = google.SessionDir() + "/multipart-" + google.NewSessionIdLocked();
  }
  std::int64_t rawSize = 0;
  std::string rawMd5;
  if (!ReceiveToNewFile(cloud, req, res, reader, raw, rawSize, rawMd5)) return false;
  std::int64_t start = 0, length = 0;
  std::error_code ec;
  if (!ParseMultipart(raw, boundary, metadata, contentType, start, length)) {
    fs::remove(raw, ec);
    SendGoogleError(res, 400, "badContent", "Malformed multipart body.");
    return false;
  }
  blob = raw + ".content";
  bool extracted = ExtractRange(raw, start, length, blob, md5);
  fs::remove(raw, ec);
  if (!extracted) {
    fs::remove(blob, ec);
    SendGoogleError(res, 500, "internalError", "Cannot store content");
    return false;
  }
  size = length;
  return true;
}

// ---------------------------------------------------------------- listing

std::string PageToken(size_t offset) { return "~!!~" + std::to_string(offset) + "~AI9FV7"; }

bool ParsePageToken(const std::string& token, size_t& offset) {
  if (token.empty()) {
    offset = 0;
    return true;
  }
  if (token.rfind("~!!~", 0) != 0) return false;
  size_t end = token.find('~', 4);
  if (end == std::string::npos) return false;
  try {
    offset = std::stoul(token.substr(4, end - 4));
  } catch (...) {
    return false;
  }
  return true;
}

// The nextPageToken of a page that ends at `end` of `count` entries: none
// after the last page, unless a fault makes the listing go on forever.
std::string NextPageToken(DevCloud& cloud, const Req& req, size_t end, size_t count) {
  FaultRule rule;
  const std::string asked = req.get_param_value("pageToken");
  if (cloud.TakeFault(req.method, req.path, FaultRule::Kind::RepeatPageToken, rule))
    return asked.empty() ? PageToken(end) : asked;
  if (cloud.TakeFault(req.method, req.path, FaultRule::Kind::EndlessPages, rule)) {
    static std::atomic<std::uint64_t> fresh{0};
    size_t offset = 0;
    ParsePageToken(asked, offset);
    return PageToken(offset) + std::to_string(++fresh);
  }
  return end < count ? PageToken(end) : std::string();
}

// pageSize as given (default `fallback`), capped at `cap`; false for a
// value that is not a positive number.
bool PageSize(const Req& req, int fallback, int cap, int& size) {
  size = fallback;
  if (!req.has_param("pageSize")) return true;
  try {
    size_t used = 0;
    std::string text = req.get_param_value("pageSize");
    size = std::stoi(text, &used);
    if (used != text.size() || size < 1) return false;
  } catch (...) {
    return false;
  }
  size = std::min(size, cap);
  return true;
}

void HandleList(DevCloud& cloud, GoogleState& google, const Req& req, Res& res) {
  if (!Authorized(google, req, res)) return;
  DriveQuery query;
  std::string error;
  if (!DriveQuery::Parse(req.get_param_value("q"), query, error))
    return SendGoogleError(res, 400, "invalid", "Invalid Value: " + error);
  int pageSize = 0;
  if (!PageSize(req, 100, 1000, pageSize)) return SendGoogleError(res, 400, "invalid", "Invalid value for pageSize");
  size_t offset = 0;
  if (!ParsePageToken(req.get_param_value("pageToken"), offset))
    return SendGoogleError(res, 400, "invalid", "Invalid Value: pageToken");
  FieldMask mask;
  if (!RequestMask(req, res, "kind,incompleteSearch,nextPageToken,files(kind,id,name,mimeType)", mask)) return;

  std::vector<DriveFile> matches;
  {
    std::lock_guard<std::mutex> guard(google.Lock());
    const std::string rootId = google.ResolveIdLocked("root");
    for (const auto& [id, f] : google.FilesLocked())
      if (id != rootId && query.Matches(f, rootId)) matches.push_back(f);
  }
  std::sort(matches.begin(), matches.end(),
            [](const DriveFile& a, const DriveFile& b) { return a.sequence < b.sequence; });
  GoogleJson files = GoogleJson::array();
  const size_t end = std::min(matches.size(), offset + static_cast<size_t>(pageSize));
  for (size_t i = offset; i < end; ++i) files.push_back(FileResource(matches[i]));
  GoogleJson answer = {{"kind", "drive#fileList"}};
  const std::string next = NextPageToken(cloud, req, end, matches.size());
  if (!next.empty()) answer["nextPageToken"] = next;
  answer["incompleteSearch"] = false;
  answer["files"] = files;
  SendMasked(res, 200, mask, answer);
}

// ---------------------------------------------------------------- files

// Reads a small JSON object body (empty means {}); false (with `res` set) otherwise.
bool ReadJsonObjectBody(DevCloud& cloud, const Req& req, Res& res, const Reader& reader, GoogleJson& out) {
  std::string body;
  if (!ReadSmallBody(cloud, req, res, reader, body)) return false;
  out = body.empty() ? GoogleJson::object() : GoogleJson::parse(body, nullptr, false);
  if (out.is_object()) return true;
  SendGoogleError(res, 400, "parseError", "Parse Error");
  return false;
}


void HandleGet(GoogleState& google, const Req& req, Res& res) {
  if (!Authorized(google, req, res)) return;
  auto file = google.File(req.matches[1]);
  if (!file) return SendNotFound(res, req.matches[1]);
  if (req.get_param_value("alt") == "media") {
    if (file->IsFolder() || file->revisions.empty())
      return SendGoogleError(res, 403, "fileNotDownloadable", "Only files with binary content can be downloaded.");
    const DriveRevision& head = file->revisions.back();
    return ServeBlob(res, head.contentPath, head.size, file->mimeType);
  }
  FieldMask mask;
  if (!RequestMask(req, res, kDefaultFileFields, mask)) return;
  SendMasked(res, 200, mask, FileResource(*file));
}

void HandleCreateMetadata(DevCloud& cloud, GoogleState& google, const Req& req, Res& res, const Reader& reader) {
  if (!AuthorizedDraining(cloud, google, req, res, reader)) return;
  GoogleJson metadata;
  if (!ReadJsonObjectBody(cloud, req, res, reader, metadata)) return;
  FieldMask mask;
  if (!RequestMask(req, res, kDefaultFileFields, mask)) return;
  // A file without content is an empty blob.
  std::string blob;
  {
    std::lock_guard<std::mutex> guard(google.Lock());
    blob = google.SessionDir() + "/empty-" + google.NewSessionIdLocked();
  }
  std::ofstream(blob, std::ios::binary | std::ios::trunc).close();
  CreateFileWithContent(google, res, mask, metadata, blob, 0, Md5Hex(""), "application/octet-stream");
}

void HandlePatchMetadata(DevCloud& cloud, GoogleState& google, const Req& req, Res& res, const Reader& reader) {
  if (!AuthorizedDraining(cloud, google, req, res, reader)) return;
  GoogleJson patch;
  if (!ReadJsonObjectBody(cloud, req, res, reader, patch)) return;
  FieldMask mask;
  if (!RequestMask(req, res, kDefaultFileFields, mask)) return;
  GoogleJson answer;
  {
    std::lock_guard<std::mutex> guard(google.Lock());
    const std::string id = req.matches[1];
    auto it = google.FilesLocked().find(google.ResolveIdLocked(id));
    if (it == google.FilesLocked().end()) return SendNotFound(res, id);
    DriveFile& f = it->second;
    if (patch.contains("name") && patch["name"].is_string()) f.name = patch["name"];
    if (patch.contains("trashed") && patch["trashed"].is_boolean()) f.trashed = patch["trashed"];
    const std::string add = req.get_param_value("addParents");
    if (!add.empty()) f.parents.push_back(google.ResolveIdLocked(add));
    const std::string remove = google.ResolveIdLocked(req.get_param_value("removeParents"));
    if (!remove.empty()) f.parents.erase(std::remove(f.parents.begin(), f.parents.end(), remove), f.parents.end());
    f.modifiedMs = std::max(NowUnixMs(), f.modifiedMs + 1);
    google.MarkDirtyLocked();
    answer = FileResource(f);
  }
  SendMasked(res, 200, mask, answer);
  google.Flush();
}

void HandleDelete(GoogleState& google, const Req& req, Res& res) {
  if (!Authorized(google, req, res)) return;
  const std::string id = req.matches[1];
  {
    std::lock_guard<std::mutex> guard(google.Lock());
    const std::string resolved = google.ResolveIdLocked(id);
    if (resolved == google.ResolveIdLocked("root"))
      return SendGoogleError(res, 403, "cannotDeleteRoot", "The root folder cannot be deleted.");
    if (!google.FilesLocked().count(resolved)) return SendNotFound(res, id);
    google.DeleteLocked(resolved);  // folders take their content with them
  }
  res.status = 204;
  google.Flush();
}

void HandleAbout(GoogleState& google, const Req& req, Res& res) {
  if (!Authorized(google, req, res)) return;
  if (!req.has_param("fields"))
    return SendGoogleError(res, 400, "required", "The 'fields' parameter is required for this method.");
  FieldMask mask;
  if (!RequestMask(req, res, "", mask)) return;
  GoogleJson quota = GoogleJson::object();
  {
    std::lock_guard<std::mutex> guard(google.Lock());
    if (google.QuotaLimitLocked() > 0) quota["limit"] = std::to_string(google.QuotaLimitLocked());
    const std::string usage = std::to_string(google.UsageBytesLocked());
    quota["usage"] = usage;
    quota["usageInDrive"] = usage;
    quota["usageInDriveTrash"] = std::to_string(google.TrashUsageBytesLocked());
  }
  GoogleJson about = {{"kind", "drive#about"},
                      {"user",
                       {{"kind", "drive#user"},
                        {"displayName", "DevCloud Test User"},
                        {"emailAddress", "test.user@devcloud.local"}}},
                      {"storageQuota", quota}};
  SendMasked(res, 200, mask, about);
}

// ---------------------------------------------------------------- revisions

void HandleRevisionList(DevCloud& cloud, GoogleState& google, const Req& req, Res& res) {
  if (!Authorized(google, req, res)) return;
  {
    // Old unpinned content is gone by the time anyone looks.
    std::lock_guard<std::mutex> guard(google.Lock());
    auto it = google.FilesLocked().find(google.ResolveIdLocked(req.matches[1]));
    if (it != google.FilesLocked().end()) google.PurgeRevisionsLocked(it->second, NowUnixMs(), false);
  }
  auto file = google.File(req.matches[1]);
  if (!file) return SendNotFound(res, req.matches[1]);
  if (file->IsFolder())
    return SendGoogleError(res, 403, "revisionsNotSupported", "The file does not support revisions.");
  int pageSize = 0;
  if (!PageSize(req, 200, 200, pageSize)) return SendGoogleError(res, 400, "invalid", "Invalid value for pageSize");
  size_t offset = 0;
  if (!ParsePageToken(req.get_param_value("pageToken"), offset))
    return SendGoogleError(res, 400, "invalid", "Invalid Value: pageToken");
  FieldMask mask;
  if (!RequestMask(req, res, std::string("kind,nextPageToken,revisions(") + kDefaultRevisionFields + ")", mask))
    return;
  GoogleJson revisions = GoogleJson::array();
  const size_t end = std::min(file->revisions.size(), offset + static_cast<size_t>(pageSize));
  for (size_t i = offset; i < end; ++i) revisions.push_back(RevisionResource(file->revisions[i]));
  GoogleJson answer = {{"kind", "drive#revisionList"}};
  const std::string next = NextPageToken(cloud, req, end, file->revisions.size());
  if (!next.empty()) answer["nextPageToken"] = next;
  answer["revisions"] = revisions;
  SendMasked(res, 200, mask, answer);
}

const DriveRevision* FindRevision(const DriveFile& file, const std::string& id) {
  for (const auto& r : file.revisions)
    if (r.id == id) return &r;
  return nullptr;
}

void HandleRevisionGet(GoogleState& google, const Req& req, Res& res) {
  if (!Authorized(google, req, res)) return;
  auto file = google.File(req.matches[1]);
  if (!file) return SendNotFound(res, req.matches[1]);
  const DriveRevision* revision = FindRevision(*file, req.matches[2]);
  if (!revision) return SendGoogleError(res, 404, "notFound", "Revision not found: " + std::string(req.matches[2]) + ".");
  if (req.get_param_value("alt") == "media") return ServeBlob(res, revision->contentPath, revision->size, revision->mimeType);
  FieldMask mask;
  if (!RequestMask(req, res, kDefaultRevisionFields, mask)) return;
  SendMasked(res, 200, mask, RevisionResource(*revision));
}

void HandleRevisionPatch(DevCloud& cloud, GoogleState& google, const Req& req, Res& res, const Reader& reader) {
  if (!AuthorizedDraining(cloud, google, req, res, reader)) return;
  GoogleJson patch;
  if (!ReadJsonObjectBody(cloud, req, res, reader, patch)) return;
  if (patch.contains("keepForever") && !patch["keepForever"].is_boolean())
    return SendGoogleError(res, 400, "invalid", "Invalid value for: keepForever");
  FieldMask mask;
  if (!RequestMask(req, res, kDefaultRevisionFields, mask)) return;
  GoogleJson answer;
  {
    std::lock_guard<std::mutex> guard(google.Lock());
    const std::string id = req.matches[1];
    auto it = google.FilesLocked().find(google.ResolveIdLocked(id));
    if (it == google.FilesLocked().end()) return SendNotFound(res, id);
    DriveRevision* revision = nullptr;
    for (auto& r : it->second.revisions)
      if (r.id == req.matches[2]) revision = &r;
    if (!revision)
      return SendGoogleError(res, 404, "notFound", "Revision not found: " + std::string(req.matches[2]) + ".");
    if (patch.contains("keepForever")) {
      const bool keep = patch["keepForever"];
      const auto& all = it->second.revisions;
      const auto pinned = std::count_if(all.begin(), all.end(), [](const DriveRevision& r) { return r.keepForever; });
      if (keep && !revision->keepForever && pinned >= kMaxKeepForeverRevisions)
        return SendGoogleError(res, 403, "keepForeverLimitExceeded",
                               "The maximum number of revisions that can be kept forever for this file has been reached.");
      revision->keepForever = keep;
    }
    google.MarkDirtyLocked();
    answer = RevisionResource(*revision);
  }
  SendMasked(res, 200, mask, answer);
  google.Flush();
}

void HandleRevisionDelete(GoogleState& google, const Req& req, Res& res) {
  if (!Authorized(google, req, res)) return;
  {
    std::lock_guard<std::mutex> guard(google.Lock());
    const std::string id = req.matches[1];
    auto it = google.FilesLocked().find(google.ResolveIdLocked(id));
    if (it == google.FilesLocked().end()) return SendNotFound(res, id);
    auto& revisions = it->second.revisions;
    auto r = std::find_if(revisions.begin(), revisions.end(),
                          [&](const DriveRevision& x) { return x.id == req.matches[2]; });
    if (r == revisions.end())
      return SendGoogleError(res, 404, "notFound", "Revision not found: " + std::string(req.matches[2]) + ".");
    if (std::next(r) == revisions.end())
      return SendGoogleError(res, 400, "cannotDeleteHeadRevision", "The head revision cannot be deleted.");
    std::error_code ec;
    fs::remove(r->contentPath, ec);
    revisions.erase(r);
    google.MarkDirtyLocked();
  }
  res.status = 204;
  google.Flush();
}

// ---------------------------------------------------------------- uploads

void StartSession(DevCloud& cloud, GoogleState& google, const Req& req, Res& res, const Reader& reader,
                  const std::string& fileId) {
  GoogleJson metadata;
  if (!ReadJsonObjectBody(cloud, req, res, reader, metadata)) return;
  FieldMask mask;
  if (!RequestMask(req, res, kDefaultFileFields, mask)) return;
  std::int64_t total = -1;
  if (req.has_header("X-Upload-Content-Length")) {
    try {
      total = std::stoll(req.get_header_value("X-Upload-Content-Length"));
    } catch (...) {
      total = -2;
    }
    if (total < 0) return SendGoogleError(res, 400, "badRequest", "Invalid X-Upload-Content-Length");
  }
  const std::string uploadType = req.get_header_value("X-Upload-Content-Type");
  if (!uploadType.empty() && !metadata.contains("mimeType") && fileId.empty()) metadata["mimeType"] = uploadType;

  UploadSession session;
  {
    std::lock_guard<std::mutex> guard(google.Lock());
    if (!fileId.empty()) {
      auto it = google.FilesLocked().find(google.ResolveIdLocked(fileId));
      if (it == google.FilesLocked().end()) return SendNotFound(res, fileId);
      if (it->second.IsFolder())
        return SendGoogleError(res, 403, "fileNotUploadable", "A folder cannot carry content.");
      session.fileId = it->first;
    } else {
      std::vector<std::string> parents;
      std::string missing;
      if (!ResolveParentsLocked(google, metadata, parents, missing)) return SendNotFound(res, missing);
    }
    const std::int64_t limit = google.QuotaLimitLocked();
    if (limit > 0 && total > 0 && google.UsageBytesLocked() + total > limit) return SendQuotaExceeded(res);
    session.id = google.NewSessionIdLocked();
    session.metadata = metadata;
    session.total = total;
    session.path = google.SessionDir() + "/" + session.id;
    session.fields = req.has_param("fields") ? req.get_param_value("fields") : kDefaultFileFields;
    session.md5 = std::make_shared<Md5Stream>();
    std::ofstream(session.path, std::ios::binary | std::ios::trunc).close();
    google.SessionsLocked()[session.id] = session;
    google.MarkDirtyLocked();
  }
  std::string location = RequestBaseUrl(cloud, req) + "/upload/drive/v3/files";
  if (!session.fileId.empty()) location += "/" + session.fileId;
  location += "?uploadType=resumable&upload_id=" + session.id;
  res.status = 200;
  res.set_header("Location", location);
  res.set_header("X-GUploader-UploadID", session.id);
  res.set_content("", "text/plain");
  google.Flush();
}

// Turns a session whose bytes all arrived into a file or a new revision.
void CompleteSession(GoogleState& google, Res& res, const std::string& sessionId) {
  UploadSession session;
  {
    std::lock_guard<std::mutex> guard(google.Lock());
    auto it = google.SessionsLocked().find(sessionId);
    if (it == google.SessionsLocked().end()) return SendGoogleError(res, 404, "notFound", "Upload session not found");
    session = it->second;
  }
  const std::string md5 = session.md5 ? session.md5->FinalHex() : Md5OfFile(session.path);
  FieldMask mask;
  std::string error;
  FieldMask::Parse(session.fields, mask, error);
  Res answer;
  if (session.fileId.empty())
    CreateFileWithContent(google, answer, mask, session.metadata, session.path, session.received, md5,
                          "application/octet-stream", 201);
  else
    AddContent(google, answer, mask, session.fileId, session.metadata, session.path, session.received, md5);
  {
    std::lock_guard<std::mutex> guard(google.Lock());
    auto it = google.SessionsLocked().find(sessionId);
    if (answer.status == 200 || answer.status == 201) {
      GoogleJson created = GoogleJson::parse(answer.body, nullptr, false);
      std::string fileId = session.fileId;
      if (fileId.empty() && created.is_object() && created.contains("id")) fileId = created["id"];
      if (it != google.SessionsLocked().end()) {
        it->second.completedFileId = fileId.empty() ? "?" : fileId;
        it->second.md5.reset();
      }
    } else if (it != google.SessionsLocked().end()) {
      google.SessionsLocked().erase(it);  // refused (quota, parent gone): the session ends
    }
    google.MarkDirtyLocked();
  }
  res.status = answer.status;
  res.body = answer.body;
  res.headers = answer.headers;
  google.Flush();
}

// Answers a request on a session that already completed: the file it made,
// with the status of the completion.
void AnswerCompleted(GoogleState& google, Res& res, const UploadSession& session) {
  auto file = google.File(session.completedFileId);
  if (!file) return SendGoogleError(res, 404, "notFound", "Upload session not found");
  FieldMask mask;
  std::string error;
  FieldMask::Parse(session.fields, mask, error);
  SendMasked(res, session.fileId.empty() ? 201 : 200, mask, FileResource(*file));
}

void SendIncomplete(Res& res, std::int64_t received) {
  res.status = 308;
  if (received > 0) res.set_header("Range", "bytes=0-" + std::to_string(received - 1));
  res.set_content("", "text/plain");
}

struct ContentRange {
  bool present = false;
  bool query = false;  // "bytes */T"
  std::int64_t first = 0, last = -1;
  std::int64_t total = -1;  // -1: "*"
};

bool ParseContentRange(const std::string& text, ContentRange& range) {
  if (text.empty()) return true;
  range.present = true;
  if (text.rfind("bytes ", 0) != 0) return false;
  std::string rest = text.substr(6);
  size_t slash = rest.find('/');
  if (slash == std::string::npos) return false;
  std::string span = rest.substr(0, slash), total = rest.substr(slash + 1);
  try {
    if (total != "*") {
      size_t used = 0;
      range.total = std::stoll(total, &used);
      if (used != total.size() || range.total < 0) return false;
    }
    if (span == "*") {
      range.query = true;
      return true;
    }
    size_t dash = span.find('-');
    if (dash == std::string::npos) return false;
    size_t used1 = 0, used2 = 0;
    range.first = std::stoll(span.substr(0, dash), &used1);
    range.last = std::stoll(span.substr(dash + 1), &used2);
    if (used1 != dash || used2 != span.size() - dash - 1) return false;
  } catch (...) {
    return false;
  }
  return range.first >= 0 && range.last >= range.first && (range.total < 0 || range.last < range.total);
}

void HandleSessionPut(DevCloud& cloud, GoogleState& google, const Req& req, Res& res, const Reader& reader) {
  const std::string id = req.get_param_value("upload_id");
  ContentRange range;
  const bool rangeOk = ParseContentRange(req.get_header_value("Content-Range"), range);

  UploadSession session;
  {
    std::lock_guard<std::mutex> guard(google.Lock());
    auto it = google.SessionsLocked().find(id);
    if (it != google.SessionsLocked().end()) session = it->second;
  }
  if (session.id.empty()) {
    DiscardBody(cloud, req, res, reader);
    return SendGoogleError(res, 404, "notFound", "Upload session not found");
  }
  if (!session.completedFileId.empty()) {
    if (DiscardBody(cloud, req, res, reader)) AnswerCompleted(google, res, session);
    return;
  }
  if (!rangeOk) {
    DiscardBody(cloud, req, res, reader);
    return SendGoogleError(res, 400, "badRequest", "Invalid Content-Range header");
  }
  const std::int64_t bodyLength = req.has_header("Content-Length")
                                      ? std::stoll(req.get_header_value("Content-Length", 0))
                                      : 0;
  if (!range.present) {  // the whole content in one request
    range.first = 0;
    range.last = bodyLength - 1;
    range.total = bodyLength;
    range.query = bodyLength == 0;
  }
  std::int64_t total = session.total;
  if (range.total >= 0) {
    if (total >= 0 && range.total != total) {
      DiscardBody(cloud, req, res, reader);
      return SendGoogleError(res, 400, "badRequest",
                             "The declared size " + std::to_string(total) + " differs from " +
                                 std::to_string(range.total) + " in Content-Range.");
    }
    total = range.total;
  }

  if (range.query) {
    if (!DiscardBody(cloud, req, res, reader)) return;
    if (total >= 0 && session.received == total) {
      {
        std::lock_guard<std::mutex> guard(google.Lock());
        auto it = google.SessionsLocked().find(id);
        if (it != google.SessionsLocked().end()) it->second.total = total;
      }
      return CompleteSession(google, res, id);
    }
    return SendIncomplete(res, session.received);
  }

  if (range.last - range.first + 1 != bodyLength) {
    DiscardBody(cloud, req, res, reader);
    return SendGoogleError(res, 400, "badRequest", "Content-Range does not match the body length.");
  }
  if (range.first > session.received) {  // a gap: nothing of it is kept
    if (DiscardBody(cloud, req, res, reader)) SendIncomplete(res, session.received);
    return;
  }

  // Write the chunk at its place; keep the MD5 running while bytes arrive in order.
  std::shared_ptr<Md5Stream> md5 = range.first == session.received ? session.md5 : nullptr;
  std::vector<char> buffer(1 << 20);  // outlives the stream that uses it
  FilePtr out(std::fopen(session.path.c_str(), "r+b"));
  if (!out || fseeko(out.get(), static_cast<off_t>(range.first), SEEK_SET) != 0) {
    DiscardBody(cloud, req, res, reader);
    return SendGoogleError(res, 500, "internalError", "Cannot store content");
  }
  std::setvbuf(out.get(), buffer.data(), _IOFBF, buffer.size());
  std::int64_t written = 0;
  bool writeFailed = false;
  bool ok = cloud.ReceiveBody(req, res, reader, [&](const char* data, size_t n) {
    if (std::fwrite(data, 1, n, out.get()) != n) {
      writeFailed = true;
      return false;
    }
    if (md5) md5->Update(data, n);
    written += static_cast<std::int64_t>(n);
    return true;
  });
  if (std::fflush(out.get()) != 0) writeFailed = true;
  out.reset();

  std::int64_t end = range.first + written;
  const bool complete = ok && !writeFailed && written == bodyLength;
  // Bytes of a chunk that is not the last are kept in whole 256 KiB units.
  if (complete && (total < 0 || end < total))
    end = range.first + (written / kResumableGranularity) * kResumableGranularity;
  FaultRule shortCommit;
  if (complete && cloud.TakeFault(req.method, req.path, FaultRule::Kind::ShortCommit, shortCommit))
    end = range.first + std::min(written, shortCommit.afterBytes / kResumableGranularity * kResumableGranularity);
  std::int64_t received = complete ? std::max(session.received, end) : session.received;
  std::error_code ec;
  fs::resize_file(session.path, static_cast<std::uintmax_t>(received), ec);
  const bool md5InStep = md5 && complete && end == range.first + written;
  {
    std::lock_guard<std::mutex> guard(google.Lock());
    auto it = google.SessionsLocked().find(id);
    if (it != google.SessionsLocked().end()) {
      it->second.received = received;
      it->second.total = total;
      // A chunk that overlapped, broke off or was cut short leaves the
      // running MD5 behind: it is computed from the file at the end.
      if (!md5InStep || range.first != session.received) it->second.md5.reset();
      google.MarkDirtyLocked();
    }
  }
  if (!complete) {
    if (writeFailed) SendGoogleError(res, 500, "internalError", "Cannot store content");
    return;  // the connection is gone or being dropped
  }
  if (total >= 0 && received == total) return CompleteSession(google, res, id);
  SendIncomplete(res, received);
}

void HandleUploadNew(DevCloud& cloud, GoogleState& google, const Req& req, Res& res, const Reader& reader) {
  if (!AuthorizedDraining(cloud, google, req, res, reader)) return;
  const std::string type = req.get_param_value("uploadType");
  if (type == "resumable") return StartSession(cloud, google, req, res, reader, "");
  FieldMask mask;
  if (!RequestMask(req, res, kDefaultFileFields, mask)) {
    Res scratch;
    DiscardBody(cloud, req, scratch, reader);
    return;
  }
  if (type == "multipart") {
    GoogleJson metadata;
    std::string blob, md5, contentType;
    std::int64_t size = 0;
    if (!ReceiveMultipart(cloud, google, req, res, reader, metadata, blob, size, md5, contentType)) return;
    return CreateFileWithContent(google, res, mask, metadata, blob, size, md5, contentType);
  }
  if (type == "media") {
    std::string blob;
    {
      std::lock_guard<std::mutex> guard(google.Lock());
      blob = google.SessionDir() + "/media-" + google.NewSessionIdLocked();
    }
    std::int64_t size = 0;
    std::string md5;
    if (!ReceiveToNewFile(cloud, req, res, reader, blob, size, md5)) return;
    return CreateFileWithContent(google, res, mask, GoogleJson::object(), blob, size, md5,
                                 req.get_header_value("Content-Type"));
  }
  DiscardBody(cloud, req, res, reader);
  SendGoogleError(res, 400, "invalid", "Invalid Value: uploadType");
}

void HandleUploadUpdate(DevCloud& cloud, GoogleState& google, const Req& req, Res& res, const Reader& reader) {
  if (!AuthorizedDraining(cloud, google, req, res, reader)) return;
  const std::string fileId = req.matches[1];
  const std::string type = req.get_param_value("uploadType");
  if (type == "resumable") return StartSession(cloud, google, req, res, reader, fileId);
  FieldMask mask;
  if (!RequestMask(req, res, kDefaultFileFields, mask)) {
    Res scratch;
    DiscardBody(cloud, req, scratch, reader);
    return;
  }
  if (type == "media") {
    std::string blob;
    {
      std::lock_guard<std::mutex> guard(google.Lock());
      blob = google.SessionDir() + "/media-" + google.NewSessionIdLocked();
    }
    std::int64_t size = 0;
    std::string md5;
    if (!ReceiveToNewFile(cloud, req, res, reader, blob, size, md5)) return;
    return AddContent(google, res, mask, fileId, GoogleJson::object(), blob, size, md5);
  }
  if (type == "multipart") {
    GoogleJson metadata;
    std::string blob, md5, contentType;
    std::int64_t size = 0;
    if (!ReceiveMultipart(cloud, google, req, res, reader, metadata, blob, size, md5, contentType)) return;
    return AddContent(google, res, mask, fileId, metadata, blob, size, md5);
  }
  DiscardBody(cloud, req, res, reader);
  SendGoogleError(res, 400, "invalid", "Invalid Value: uploadType");
}

}  // namespace

void RegisterDriveRoutes(httplib::Server& server, DevCloud& cloud) {
  GoogleState& g = cloud.Google();
  auto plain = [&g](void (*handler)(GoogleState&, const Req&, Res&)) {
    return [&g, handler](const Req& req, Res& res) { handler(g, req, res); };
  };
  auto bodied = [&cloud, &g](void (*handler)(DevCloud&, GoogleState&, const Req&, Res&, const Reader&)) {
    return [&cloud, &g, handler](const Req& req, Res& res, const Reader& reader) {
      handler(cloud, g, req, res, reader);
    };
  };
  auto listing = [&cloud, &g](void (*handler)(DevCloud&, GoogleState&, const Req&, Res&)) {
    return [&cloud, &g, handler](const Req& req, Res& res) { handler(cloud, g, req, res); };
  };
  const std::string id = "([^/]+)";
  server.Get("/drive/v3/files", listing(HandleList));
  server.Post("/drive/v3/files", bodied(HandleCreateMetadata));
  server.Get("/drive/v3/files/" + id + "/revisions", listing(HandleRevisionList));
  server.Get("/drive/v3/files/" + id + "/revisions/" + id, plain(HandleRevisionGet));
  server.Patch("/drive/v3/files/" + id + "/revisions/" + id, bodied(HandleRevisionPatch));
  server.Delete("/drive/v3/files/" + id + "/revisions/" + id, plain(HandleRevisionDelete));
  server.Get("/drive/v3/files/" + id, plain(HandleGet));
  server.Patch("/drive/v3/files/" + id, bodied(HandlePatchMetadata));
  server.Delete("/drive/v3/files/" + id, plain(HandleDelete));
  server.Get("/drive/v3/about", plain(HandleAbout));
  server.Post("/upload/drive/v3/files", bodied(HandleUploadNew));
  server.Patch("/upload/drive/v3/files/" + id, bodied(HandleUploadUpdate));
  server.Put("/upload/drive/v3/files", bodied(HandleSessionPut));
  server.Put("/upload/drive/v3/files/" + id, bodied(HandleSessionPut));
}

}  // namespace calvora::devcloud
