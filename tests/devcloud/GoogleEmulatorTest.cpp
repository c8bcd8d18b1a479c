// The emulator's own rules where clients depend on them: the resumable
// upload protocol, bearer checks, OAuth grants with PKCE, revisions, quota,
// fault injection and persistence.
#include "DevCloudFixture.h"
#include "foundation/Crypto.h"
#include "platform/http_client.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>

namespace calvora::test {
namespace {

using platform::HttpClient;
using platform::HttpRequest;
using platform::HttpResponse;

class GoogleEmulatorTest : public ::testing::Test {
 protected:
  HttpResponse Send(const std::string& method, const std::string& pathOrUrl, const std::string& body = "",
                    platform::HttpHeaders headers = {}, bool auth = true) {
    HttpRequest request;
    request.method = method;
    request.url = pathOrUrl.rfind("http", 0) == 0 ? pathOrUrl : cloud.BaseUrl() + pathOrUrl;
    request.body = body;
    if (auth) headers.emplace_back("Authorization", "Bearer " + cloud.AccessToken());
    request.headers = std::move(headers);
    return client.Send(request);
  }

  devcloud::GoogleJson Json(const HttpResponse& response) {
    return devcloud::GoogleJson::parse(response.body, nullptr, false);
  }

  std::string StartSession(std::int64_t total, const std::string& name = "x.bin") {
    HttpResponse r = Send("POST", "/upload/drive/v3/files?uploadType=resumable&fields=id,name,size,md5Checksum",
                          "{\"name\":\"" + name + "\"}",
                          {{"Content-Type", "application/json; charset=UTF-8"},
                           {"X-Upload-Content-Length", std::to_string(total)}});
    EXPECT_EQ(r.status, 200);
    return r.Header("Location");
  }

  HttpResponse Put(const std::string& session, const std::string& range, const std::string& body) {
    return Send("PUT", session, body, {{"Content-Range", range}}, false);
  }

  TDevCloudFixture cloud;
  HttpClient client;
};

TEST_F(GoogleEmulatorTest, ResumableSessionFollowsTheProtocol) {
  const std::int64_t unit = 256 * 1024;
  std::string content(3 * unit + 100, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 1000);
  const std::string total = std::to_string(content.size());
  const std::string session = StartSession(static_cast<std::int64_t>(content.size()));
  ASSERT_NE(session.find("upload_id="), std::string::npos);

  HttpResponse r = Put(session, "bytes */" + total, "");
  EXPECT_EQ(r.status, 308);
  EXPECT_EQ(r.Header("Range"), "") << "nothing arrived yet";

  r = Put(session, "bytes 0-" + std::to_string(unit - 1) + "/" + total, content.substr(0, unit));
  EXPECT_EQ(r.status, 308);
  EXPECT_EQ(r.Header("Range"), "bytes=0-262143");

  // A chunk that is not a multiple of 256 KiB keeps only whole units.
  r = Put(session, "bytes 262144-" + std::to_string(unit + unit + 999) + "/" + total,
          content.substr(unit, unit + 1000));
  EXPECT_EQ(r.status, 308);
  EXPECT_EQ(r.Header("Range"), "bytes=0-524287");

  // A chunk beyond what arrived is not kept.
  r = Put(session, "bytes 786432-" + std::to_string(content.size() - 1) + "/" + total, content.substr(3 * unit));
  EXPECT_EQ(r.status, 308);
  EXPECT_EQ(r.Header("Range"), "bytes=0-524287");

  // A chunk overlapping what arrived is accepted; this one completes the upload.
  r = Put(session, "bytes 262144-" + std::to_string(content.size() - 1) + "/" + total, content.substr(unit));
  ASSERT_EQ(r.status, 201) << "a new file is created: " << r.body;
  auto file = Json(r);
  EXPECT_EQ(file["name"], "x.bin");
  EXPECT_EQ(file["size"], total);
  EXPECT_EQ(file["md5Checksum"], devcloud::Md5Hex(content));
  EXPECT_FALSE(file.contains("mimeType")) << "the session's fields selection applies";

  // The completed session keeps answering with the file.
  r = Put(session, "bytes */" + total, "");
  EXPECT_EQ(r.status, 201);
  EXPECT_EQ(Json(r)["id"], file["id"]);
  EXPECT_EQ(test::ReadFile(cloud.Google().ContentPath(file["id"])), content);

  EXPECT_EQ(Put(session + "x", "bytes */" + total, "").status, 404) << "unknown session";
}

TEST_F(GoogleEmulatorTest, ResumableSessionRefusesBadRanges) {
  const std::string session = StartSession(1000);
  struct Case {
    const char* range;
    std::string body;
  };
  for (const Case& c : {Case{"bytes 0-9/2000", std::string(10, 'a')},   // other total
                        Case{"bytes 0-9/1000", std::string(11, 'a')},   // length differs
                        Case{"bytes 9-0/1000", std::string(10, 'a')},   // reversed
                        Case{"octets 0-9/1000", std::string(10, 'a')}}) {
    EXPECT_EQ(Put(session, c.range, c.body).status, 400) << c.range;
  }
  EXPECT_EQ(Put(session, "bytes */1000", "").status, 308) << "the session is still usable";
}

TEST_F(GoogleEmulatorTest, ContentUpdateKeepsEarlierRevisionsAndPages) {
  const std::string folder = cloud.Google().AddFolder("Yedekler");
  const std::string id = cloud.Google().AddFile("db.bak", folder, "one");
  // Pinned, most of them outlive the upload's purge of unpinned revisions
  // beyond 100, so the list still needs two pages.
  for (int i = 0; i < 204; ++i) {
    const std::string revision = cloud.Google().AddRevision(id, "rev" + std::to_string(i));
    if (i < 150) cloud.Google().SetRevisionKeepForever(id, revision, true);
  }
  HttpResponse r = Send("PATCH", "/upload/drive/v3/files/" + id + "?uploadType=media&fields=id,size,md5Checksum",
                        "latest", {{"Content-Type", "application/octet-stream"}});
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(Json(r)["md5Checksum"], devcloud::Md5Hex("latest"));

  r = Send("GET", "/drive/v3/files/" + id + "/revisions?pageSize=1000&fields=nextPageToken,revisions(id,size)");
  auto page = Json(r);
  ASSERT_EQ(page["revisions"].size(), 200u) << "pages hold at most 200 revisions";
  EXPECT_EQ(page["revisions"][0]["size"], "3");
  r = Send("GET", "/drive/v3/files/" + id + "/revisions?fields=nextPageToken,revisions(id,size)&pageToken=" +
                      page["nextPageToken"].get<std::string>());
  auto last = Json(r);
  ASSERT_EQ(last["revisions"].size(), 6u);
  EXPECT_FALSE(last.contains("nextPageToken"));
  const std::string first = page["revisions"][0]["id"];
  EXPECT_EQ(Send("GET", "/drive/v3/files/" + id + "/revisions/" + first + "?alt=media").body, "one");

  r = Send("PATCH", "/drive/v3/files/" + id + "/revisions/" + first + "?fields=id,keepForever",
           "{\"keepForever\":true}", {{"Content-Type", "application/json"}});
  EXPECT_EQ(Json(r), (devcloud::GoogleJson{{"id", first}, {"keepForever", true}}));
  EXPECT_TRUE(cloud.Google().File(id)->revisions.front().keepForever);
}

TEST_F(GoogleEmulatorTest, ResumableUpdateOfAFileCompletesWith200) {
  const std::string id = cloud.Google().AddFile("db.bak", "root", "one");
  HttpResponse r = Send("PATCH", "/upload/drive/v3/files/" + id + "?uploadType=resumable&fields=id,size",
                        "{}", {{"Content-Type", "application/json; charset=UTF-8"}, {"X-Upload-Content-Length", "3"}});
  ASSERT_EQ(r.status, 200) << r.body;
  const std::string session = r.Header("Location");
  r = Put(session, "bytes 0-2/3", "two");
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(Json(r)["id"], id);
  EXPECT_EQ(Put(session, "bytes */3", "").status, 200);
  EXPECT_EQ(cloud.Google().File(id)->revisions.size(), 2u);
}

TEST_F(GoogleEmulatorTest, DriveRequestsNeedAValidBearerToken) {
  const std::string expired = cloud.Google().MintAccessToken(3600);
  cloud.Google().ExpireAccessToken(expired);
  for (const std::string& header : {std::string(""), std::string("Bearer "), "Bearer " + expired, std::string("Bearer nope")}) {
    platform::HttpHeaders headers;
    if (!header.empty()) headers.emplace_back("Authorization", header);
    HttpResponse r = Send("GET", "/drive/v3/files", "", headers, false);
    EXPECT_EQ(r.status, 401) << header;
    EXPECT_EQ(Json(r)["error"]["errors"][0]["reason"], "authError");
  }
  EXPECT_EQ(Send("GET", "/drive/v3/files").status, 200);
}

TEST_F(GoogleEmulatorTest, StorageQuotaIsReportedAndEnforced) {
  HttpResponse r = Send("GET", "/drive/v3/about?fields=storageQuota(limit,usage)");
  EXPECT_EQ(Json(r)["storageQuota"], (devcloud::GoogleJson{{"usage", "0"}})) << "no limit: no limit member";
  EXPECT_EQ(Send("GET", "/drive/v3/about").status, 400) << "fields is required";

  cloud.Google().SetQuotaLimit(10);
  cloud.Google().AddFile("a", "root", "12345678");
  r = Send("GET", "/drive/v3/about?fields=storageQuota(limit,usage)");
  EXPECT_EQ(Json(r)["storageQuota"], (devcloud::GoogleJson{{"limit", "10"}, {"usage", "8"}}));
  r = Send("POST", "/upload/drive/v3/files?uploadType=media", "too much", {{"Content-Type", "text/plain"}});
  EXPECT_EQ(r.status, 403);
  EXPECT_EQ(Json(r)["error"]["errors"][0]["reason"], "storageQuotaExceeded");
  r = Send("POST", "/upload/drive/v3/files?uploadType=resumable", "{}",
           {{"Content-Type", "application/json"}, {"X-Upload-Content-Length", "3"}});
  EXPECT_EQ(r.status, 403) << "a session announcing too many bytes is refused";
}

TEST_F(GoogleEmulatorTest, InjectedStatusOnABodyLeavesTheConnectionUsable) {
  const std::string session = StartSession(4);
  cloud.Cloud().InjectStatus("PUT", "^/upload/drive/v3/files$", 1, 503);
  HttpResponse r = Put(session, "bytes 0-3/4", "abcd");
  EXPECT_EQ(r.status, 503);
  EXPECT_EQ(Json(r)["error"]["errors"][0]["reason"], "backendError");
  r = Put(session, "bytes 0-3/4", "abcd");
  EXPECT_EQ(r.status, 201) << r.body;
  EXPECT_EQ(Send("GET", "/drive/v3/files?fields=files(name)").status, 200);
}

TEST_F(GoogleEmulatorTest, RateLimitsAnswerWithDrivesDocumentedBodies) {
  // Past N Drive requests within a second: 429, nothing carried out. A
  // limit of one lets the first of two back-to-back requests through.
  cloud.Cloud().SetRateLimit(1);
  EXPECT_EQ(Send("GET", "/drive/v3/files?fields=files(name)").status, 200);
  HttpResponse r = Send("POST", "/upload/drive/v3/files?uploadType=media", "abc", {{"Content-Type", "text/plain"}});
  EXPECT_EQ(r.status, 429);
  const auto error = Json(r)["error"];
  EXPECT_EQ(error["code"], 429);
  EXPECT_EQ(error["message"], "Rate Limit Exceeded");
  EXPECT_EQ(error["errors"][0], (devcloud::GoogleJson{{"domain", "usageLimits"},
                                                      {"reason", "rateLimitExceeded"},
                                                      {"message", "Rate Limit Exceeded"}}));
  EXPECT_EQ(cloud.Cloud().RateLimitedCount(), 1);
  cloud.Cloud().SetRateLimit(0);
  EXPECT_TRUE(cloud.Google().ListTree().empty()) << "the refused upload made no file";

  // A 403 with a rate-limit reason on every second matching request.
  devcloud::FaultRule rule;
  rule.method = "GET";
  rule.status = 403;
  rule.reason = "userRateLimitExceeded";
  rule.remaining = 2;
  rule.every = 2;
  cloud.Cloud().AddFault(rule);
  std::vector<int> statuses;
  for (int i = 0; i < 5; ++i) statuses.push_back(Send("GET", "/drive/v3/files?fields=files(name)").status);
  EXPECT_EQ(statuses, (std::vector<int>{200, 403, 200, 403, 200}));
  cloud.Cloud().AddFault(rule);
  r = Send("GET", "/drive/v3/files?fields=files(name)");
  r = Send("GET", "/drive/v3/files?fields=files(name)");
  EXPECT_EQ(Json(r)["error"]["errors"][0]["domain"], "usageLimits");
  EXPECT_EQ(Json(r)["error"]["message"], "User Rate Limit Exceeded");
}

TEST_F(GoogleEmulatorTest, DroppedConnectionsCutTheTransfer) {
  const std::string unit(256 * 1024, 'u');
  const std::string session = StartSession(2 * 256 * 1024);

  // Cut inside the request: nothing of the chunk is kept.
  devcloud::FaultRule drop;
  drop.kind = devcloud::FaultRule::Kind::DropRequest;
  drop.method = "PUT";
  drop.afterBytes = 1000;
  cloud.Cloud().AddFault(drop);
  EXPECT_THROW(Put(session, "bytes 0-262143/524288", unit), platform::HttpTransportError);
  EXPECT_EQ(Put(session, "bytes */524288", "").Header("Range"), "");

  // Cut inside the answer: the chunk was kept.
  drop.kind = devcloud::FaultRule::Kind::DropResponse;
  drop.afterBytes = 0;
  cloud.Cloud().AddFault(drop);
  EXPECT_THROW(Put(session, "bytes 0-262143/524288", unit), platform::HttpTransportError);
  EXPECT_EQ(Put(session, "bytes */524288", "").Header("Range"), "bytes=0-262143");

  // A download cut after some bytes.
  const std::string id = cloud.Google().AddFile("big", "root", std::string(100000, 'd'));
  drop.method = "GET";
  drop.afterBytes = 5000;
  cloud.Cloud().AddFault(drop);
  EXPECT_THROW(Send("GET", "/drive/v3/files/" + id + "?alt=media"), platform::HttpTransportError);
  EXPECT_EQ(Send("GET", "/drive/v3/files/" + id + "?alt=media").body.size(), 100000u);
}

TEST_F(GoogleEmulatorTest, AuthorizationCodeGrantVerifiesPkce) {
  const std::string redirect = "http://localhost:8080/callback";
  const std::string verifier = Base64UrlEncode(std::string(32, 'k'));
  const std::string challenge = Base64UrlEncode(Sha256(verifier));
  auto form = [&](const std::string& code, const std::string& v) {
    return "code=" + code + "&client_id=" + TDevCloudFixture::kClientID + "&client_secret=" +
           TDevCloudFixture::kClientSecret + "&redirect_uri=" + redirect + "&code_verifier=" + v +
           "&grant_type=authorization_code";
  };
  auto post = [&](const std::string& body) {
    return Send("POST", "/token", body, {{"Content-Type", "application/x-www-form-urlencoded"}}, false);
  };
  std::string code = cloud.Google().MintAuthCode(TDevCloudFixture::kClientID, redirect, challenge, "S256");
  for (const std::string& wrong : {std::string(), challenge, Base64UrlEncode(std::string(32, 'x'))}) {
    HttpResponse r = post(form(code, wrong));
    EXPECT_EQ(r.status, 400) << wrong;
    EXPECT_EQ(Json(r)["error"], "invalid_grant");
  }
  HttpResponse r = post(form(code, verifier));
  ASSERT_EQ(r.status, 200) << r.body;
  auto tokens = Json(r);
  EXPECT_TRUE(cloud.Google().IsValidAccessToken(tokens["access_token"]));
  EXPECT_EQ(tokens["token_type"], "Bearer");
  ASSERT_TRUE(tokens.contains("refresh_token"));
  EXPECT_EQ(Json(post(form(code, verifier)))["error"], "invalid_grant") << "a code is good once";

  // Refresh grant, then revocation.
  const std::string refresh = tokens["refresh_token"];
  const std::string refreshForm = "client_id=" + std::string(TDevCloudFixture::kClientID) +
                                  "&client_secret=" + TDevCloudFixture::kClientSecret +
                                  "&refresh_token=" + refresh + "&grant_type=refresh_token";
  r = post(refreshForm);
  ASSERT_EQ(r.status, 200);
  EXPECT_TRUE(Json(r).contains("expires_in"));
  EXPECT_FALSE(Json(r).contains("refresh_token"));
  cloud.Google().RevokeRefreshToken(refresh);
  r = post(refreshForm);
  EXPECT_EQ(r.status, 400);
  EXPECT_EQ(Json(r)["error"], "invalid_grant");

  r = post("client_id=someone&client_secret=x&refresh_token=" + refresh + "&grant_type=refresh_token");
  EXPECT_EQ(r.status, 401);
  EXPECT_EQ(Json(r)["error"], "invalid_client");
  EXPECT_EQ(Json(post("grant_type=password"))["error"], "unsupported_grant_type");
}

TEST_F(GoogleEmulatorTest, AuthorizationEndpointRedirectsWithACode) {
  httplib::Client browser("127.0.0.1", cloud.Cloud().Port());  // does not follow redirects
  const std::string query = std::string("/o/oauth2/v2/auth?client_id=") + TDevCloudFixture::kClientID +
                            "&redirect_uri=http%3A%2F%2Flocalhost%3A8080%2Fcallback&response_type=code"
                            "&scope=https%3A%2F%2Fwww.googleapis.com%2Fauth%2Fdrive.file&access_type=offline"
                            "&code_challenge=abc&code_challenge_method=S256&state=s1";
  auto r = browser.Get(query.c_str());
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 302);
  const std::string location = r->get_header_value("Location");
  EXPECT_EQ(location.rfind("http://localhost:8080/callback?state=s1&code=4/", 0), 0u) << location;

  r = browser.Get("/o/oauth2/v2/auth?client_id=unknown&redirect_uri=http%3A%2F%2Flocalhost%2Fcb&response_type=code"
                  "&scope=x");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 401) << "an unknown client gets an error page, not a redirect";
}

TEST_F(GoogleEmulatorTest, StateSurvivesARestart) {
  const std::string folder = cloud.Google().AddFolder("Kalici");
  HttpResponse r = Send("POST", "/upload/drive/v3/files?uploadType=media&fields=id", "kept",
                        {{"Content-Type", "text/plain"}});
  ASSERT_EQ(r.status, 200);
  const std::string id = Json(r)["id"];
  cloud.Cloud().Stop();
  cloud.Google().FlushNow();

  devcloud::GoogleState reloaded(cloud.DataDir());
  EXPECT_EQ(reloaded.RootFolderId(), cloud.Google().RootFolderId());
  ASSERT_TRUE(reloaded.File(folder));
  EXPECT_EQ(test::ReadFile(reloaded.ContentPath(id)), "kept");
  EXPECT_TRUE(reloaded.IsValidAccessToken(cloud.AccessToken()));
}


// Drive holds names as Unicode text: a name a test plants with bytes that
// are not UTF-8 is answered (and kept) with U+FFFD in their place, and the
// emulator goes on serving.
TEST_F(GoogleEmulatorTest, NamesThatAreNotUtf8AreAnsweredAsDriveWould) {
  const std::string id = cloud.Google().AddFile("bozuk\xC5\xFF.bak", "root", "x");
  const std::string expected = "bozuk\xEF\xBF\xBD\xEF\xBF\xBD.bak";
  HttpResponse r = Send("GET", "/drive/v3/files/" + id + "?fields=id,name");
  ASSERT_EQ(r.status, 200);
  EXPECT_EQ(Json(r)["name"], expected);
  r = Send("GET", "/drive/v3/files?q=" + platform::UrlEncode("'root' in parents and name = '\xFF'") +
                      "&fields=files(id,name)");
  EXPECT_LT(r.status, 500) << r.body;
  r = Send("GET", "/drive/v3/files?q=" + platform::UrlEncode("'root' in parents") + "&fields=files(id,name)");
  ASSERT_EQ(r.status, 200);
  EXPECT_EQ(Json(r)["files"][0]["name"], expected);
  cloud.Cloud().Stop();
  cloud.Google().FlushNow();
  devcloud::GoogleState reloaded(cloud.DataDir());
  ASSERT_TRUE(reloaded.File(id));
  EXPECT_EQ(reloaded.File(id)->name, expected);
}

}  // namespace
}  // namespace calvora::test
