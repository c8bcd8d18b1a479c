// Drive uploads: one request up to 5 MiB, resumable sessions above, chunk
// retries with their waits, the status query, content updates.
#include "GoogleTestSupport.h"
#include "foundation/AppError.h"

namespace calvora::test {
namespace {

using Kind = devcloud::FaultRule::Kind;
constexpr const char* kUploadPath = "^/upload/drive/v3/files$";

class UploadTest : public DriveTest {
 protected:
  // Checks that the emulator holds exactly `content` under the result.
  void ExpectStored(const TDriveFileInfo& result, const std::string& content) {
    ASSERT_FALSE(result.FileID.empty());
    EXPECT_EQ(result.Size, static_cast<std::int64_t>(content.size()));
    EXPECT_EQ(result.MD5, devcloud::Md5Hex(content));
    EXPECT_EQ(Google().Md5(result.FileID), result.MD5);
    EXPECT_EQ(ReadFile(Google().ContentPath(result.FileID)), content);
  }
  std::vector<std::int64_t> Sleeps() { return env.Clock().Sleeps(); }
};

TEST_F(UploadTest, FileSizeChoosesOneRequestOrASession) {
  const std::string folder = Google().AddFolder("Yedek");
  struct Case {
    std::size_t size;
    bool session;
  };
  for (const Case c : {Case{0, false}, Case{1000, false}, Case{5242880, false}, Case{5242881, true}}) {
    const std::string name = "file-" + std::to_string(c.size) + ".bak";
    const std::string content = PatternBytes(c.size, static_cast<std::uint32_t>(c.size));
    cloud.Cloud().ResetCounts();
    int calls = 0;
    TDriveFileInfo result = drive.UploadFile(LocalFile(name, content), folder,
                                             [&](std::int64_t, std::int64_t) { ++calls; });
    ExpectStored(result, content);
    EXPECT_EQ(result.Name, name);
    EXPECT_EQ(Google().File(result.FileID)->parents, std::vector<std::string>{folder});
    EXPECT_EQ(Requests("POST", "/upload/"), 1) << c.size;
    EXPECT_EQ(Requests("PUT"), c.session ? 1 : 0) << c.size;
    EXPECT_EQ(calls, c.session ? 1 : 0) << "no progress on the one-request path";
  }
  EXPECT_TRUE(log.Contains(TLogLevel::Debug, "Upload HTTP 200: file-0.bak"));

  TDriveFileInfo top = drive.UploadFile(LocalFile("top.txt", "t"), "");
  EXPECT_EQ(Google().File(top.FileID)->parents, std::vector<std::string>{Google().RootFolderId()});
}

TEST_F(UploadTest, TwentyMiBGoesInThreeChunks) {
  const std::string content = PatternBytes(20 * 1048576);
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;
  TDriveFileInfo result = drive.UploadFile(LocalFile("big.bin", content), "",
                                           [&](std::int64_t sent, std::int64_t total) {
                                             progress.emplace_back(sent, total);
                                           });
  ExpectStored(result, content);
  const std::int64_t total = 20971520;
  EXPECT_EQ(progress, (std::vector<std::pair<std::int64_t, std::int64_t>>{
                          {8388608, total}, {16777216, total}, {total, total}}));
  EXPECT_TRUE(log.Contains(TLogLevel::Debug, "Resumable session acildi: big.bin (boyut=20971520)"));
  EXPECT_TRUE(log.Contains(TLogLevel::Debug, "Chunk 0-8388607/20971520 -> HTTP 308"));
  EXPECT_TRUE(log.Contains(TLogLevel::Debug, "Chunk 8388608-16777215/20971520 -> HTTP 308"));
  EXPECT_TRUE(log.Contains(TLogLevel::Debug, "Chunk 16777216-20971519/20971520 -> HTTP 201"));
  EXPECT_TRUE(log.Contains(TLogLevel::Info, "Resumable upload tamam: big.bin -> " + result.FileID + " (20971520 B)"));
  // The first 308 always writes a progress line; the next comes 15 s later at the earliest.
  int progressLines = 0;
  for (const auto& line : log.Lines())
    if (line.find("Drive upload ilerleme: ") != std::string::npos) ++progressLines;
  EXPECT_EQ(progressLines, 1);
  EXPECT_TRUE(log.Contains(TLogLevel::Info,
                           "Drive upload ilerleme: big.bin 40.0% (8 / 20 MB), kalan yaklasik 0.0 dk"));
  EXPECT_EQ(Requests("PUT"), 3);
}

TEST_F(UploadTest, ChunkFailuresAreRetriedWithGrowingWaits) {
  struct Case {
    const char* name;
    Kind kind;
    int status;
    const char* reason;
    int count;
    std::vector<std::int64_t> sleeps;
    bool succeeds;
    const char* logLine;
  };
  const Case cases[] = {
      {"three 503", Kind::Status, 503, "backendError", 3, {1000, 2000, 3000}, true,
       "Chunk PUT hata (deneme 3): HTTP 503"},
      {"rate limit", Kind::Status, 429, "rateLimitExceeded", 1, {1000}, true, "Chunk PUT hata (deneme 1): HTTP 429"},
      {"four dropped", Kind::DropRequest, 0, "", 4, {1000, 2000, 3000, 4000}, true, "Chunk PUT hata (deneme 4): "},
      {"five 503", Kind::Status, 503, "backendError", 5, {1000, 2000, 3000, 4000}, false,
       "Chunk PUT nihai hata | EAppError: HTTP 503"},
      {"refused at once", Kind::Status, 400, "badRequest", 1, {}, false, "Resumable chunk hata HTTP 400: {"},
  };
  const std::string content = PatternBytes(6 * 1048576, 7);
  const std::string path = LocalFile("six.bin", content);
  for (const Case& c : cases) {
    TTestEnv caseEnv(cloud.Deployment());
    TGoogleAuth caseAuth(caseEnv.Env(), "id", "secret", 8080, false);
    caseAuth.SetTokenData(auth.TokenData());
    TGoogleDrive caseDrive(caseAuth);
    devcloud::FaultRule rule;
    rule.kind = c.kind;
    rule.method = "PUT";
    rule.pathPattern = kUploadPath;
    rule.remaining = c.count;
    rule.status = c.status;
    rule.reason = c.reason;
    rule.afterBytes = 4096;
    cloud.Cloud().AddFault(rule);
    TDriveFileInfo result = caseDrive.UploadFile(path, "");
    cloud.Cloud().ClearFaults();
    EXPECT_EQ(caseEnv.Clock().Sleeps(), c.sleeps) << c.name;
    EXPECT_EQ(!result.FileID.empty(), c.succeeds) << c.name;
    if (c.succeeds) ExpectStored(result, content);
    EXPECT_TRUE(log.Contains(c.logLine)) << c.name;
  }
}

TEST_F(UploadTest, AfterFiveLostAnswersTheStatusQueryTellsWhereToGoOn) {
  const std::string content = PatternBytes(20 * 1048576, 3);
  // The second chunk arrives each time, but its answer is lost five times.
  AddFault(Kind::DropResponse, "PUT", kUploadPath, 5, 0, /*skip=*/1);
  std::vector<std::int64_t> sent;
  TDriveFileInfo result = drive.UploadFile(LocalFile("resume.bin", content), "",
                                           [&](std::int64_t bytes, std::int64_t) { sent.push_back(bytes); });
  ExpectStored(result, content);
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Chunk durumu sorgulandi, yukleme 16777216 byte konumuna kadar ulasmis."));
  EXPECT_EQ(sent, (std::vector<std::int64_t>{8388608, 20971520})) << "no callback for the recovered chunk";
  EXPECT_EQ(env.Clock().Sleeps(), (std::vector<std::int64_t>{1000, 2000, 3000, 4000}));
  EXPECT_EQ(Google().FilesNamed("resume.bin").size(), 1u);
}

TEST_F(UploadTest, LostAnswerOfTheLastChunkStillNamesTheFile) {
  const std::string content = PatternBytes(6 * 1048576, 5);
  AddFault(Kind::DropResponse, "PUT", kUploadPath, 5);
  TDriveFileInfo result = drive.UploadFile(LocalFile("last.bin", content), "");
  ExpectStored(result, content);
  EXPECT_EQ(Google().FilesNamed("last.bin").size(), 1u) << "the caller has no reason to upload it again";
}

TEST_F(UploadTest, SessionStartRetriesOnlyPassingTroubles) {
  struct Case {
    const char* name;
    Kind kind;
    int status;
    int count;
    std::vector<std::int64_t> sleeps;
    bool succeeds;
    const char* logLine;
  };
  const Case cases[] = {
      {"two 503", Kind::Status, 503, 2, {1000, 2000}, true, "Resumable init retry HTTP 503 (deneme 2)"},
      {"three 503", Kind::Status, 503, 3, {1000, 2000}, false, "Resumable init HTTP 503: {"},
      {"three dropped", Kind::DropRequest, 0, 3, {1000, 2000}, false, "Resumable init istisna: http"},
      {"forbidden", Kind::Status, 403, 1, {}, false, "Resumable init HTTP 403: {"},
      {"no Location", Kind::Status, 200, 1, {}, false, "Resumable init: Location header yok"},
  };
  const std::string path = LocalFile("start.bin", PatternBytes(5242881, 9));
  for (const Case& c : cases) {
    TTestEnv caseEnv(cloud.Deployment());
    TGoogleAuth caseAuth(caseEnv.Env(), "id", "secret", 8080, false);
    caseAuth.SetTokenData(auth.TokenData());
    TGoogleDrive caseDrive(caseAuth);
    AddFault(c.kind, "POST", kUploadPath, c.count, 0, 0, c.status);
    cloud.Cloud().ResetCounts();
    TDriveFileInfo result = caseDrive.UploadFile(path, "");
    cloud.Cloud().ClearFaults();
    EXPECT_EQ(caseEnv.Clock().Sleeps(), c.sleeps) << c.name;
    EXPECT_EQ(!result.FileID.empty(), c.succeeds) << c.name;
    EXPECT_EQ(Requests("PUT") > 0, c.succeeds) << c.name << ": chunks only after a session started";
    EXPECT_TRUE(log.Contains(c.logLine)) << c.name;
  }
}

// The session address comes from the server's answer: the chunks go there
// only when it lies on the upload host the session was asked of.
TEST(SessionAddressTest, LeadsOnlyToTheUploadHost) {
  TTempDir dir;
  const std::string victim = dir.File("victim.txt");
  WriteFile(victim, "keep me");
  std::string location;
  int chunks = 0;
  TStubServer upload([&](httplib::Server& s) {
    s.Post("/upload/drive/v3/files", [&](const httplib::Request&, httplib::Response& res) {
      res.set_header("Location", location);
      res.set_content("", "text/plain");
    });
    s.Put("/upload/drive/v3/files", [&](const httplib::Request&, httplib::Response& res) {
      ++chunks;
      res.status = 201;
      res.set_content(R"({"id":"new-file","name":"big.bak","size":"5242881"})", "application/json");
    });
  });
  TDeploymentSettings deployment;
  deployment.DriveUploadBase = upload.Url("");
  TTestEnv env(deployment);
  TGoogleAuth auth(env.Env(), "id", "secret", 8080, false);
  auth.SetTokenData(TTokenData{"token", "", IncHours(env.Env().Now(), 1)});
  TGoogleDrive drive(auth);
  TLogCapture log;
  const std::string path = dir.File("big.bak");
  WriteFile(path, PatternBytes(5242881, 4));

  const std::string elsewhere[] = {"file://" + victim, "http://203.0.113.7/upload/drive/v3/files?upload_id=1",
                                   "https://upload.example.com/upload/drive/v3/files?upload_id=1",
                                   "http://127.0.0.1:1/upload/drive/v3/files?upload_id=1",
                                   "/upload/drive/v3/files?upload_id=1"};
  for (const std::string& address : elsewhere) {
    location = address;
    EXPECT_EQ(drive.UploadFile(path, "").FileID, "") << address;
  }
  EXPECT_EQ(ReadFile(victim), "keep me");
  EXPECT_EQ(chunks, 0);
  EXPECT_TRUE(
      log.Contains(TLogLevel::Error, "Resumable init: oturum adresi yukleme sunucusunda degil, kullanilmadi: "));
  EXPECT_TRUE(log.Contains("kullanilmadi: http://203.0.113.7:80"));

  location = upload.Url("/upload/drive/v3/files?upload_id=ok");
  EXPECT_EQ(drive.UploadFile(path, "").FileID, "new-file") << "the upload host itself; 201 completes it";
  EXPECT_EQ(chunks, 1);
}

TEST_F(UploadTest, UpdateFileContentAddsARevision) {
  const std::string id = Google().AddFile("db.bak", "root", "first");
  for (std::size_t size : {std::size_t{1000}, std::size_t{6 * 1048576}}) {
    const std::string content = PatternBytes(size, 11);
    std::vector<std::int64_t> progress;
    cloud.Cloud().ResetCounts();
    TDriveFileInfo result = drive.UpdateFileContent(id, LocalFile("local.bak", content),
                                                    [&](std::int64_t sent, std::int64_t total) {
                                                      progress.push_back(sent);
                                                      EXPECT_EQ(total, static_cast<std::int64_t>(size));
                                                    });
    EXPECT_EQ(result.FileID, id);
    EXPECT_EQ(result.Name, "db.bak") << "the Drive name stays";
    ExpectStored(result, content);
    EXPECT_EQ(progress, std::vector<std::int64_t>{static_cast<std::int64_t>(size)});
    EXPECT_EQ(Requests("PATCH", "/upload/drive/v3/files/" + id), 1);
    EXPECT_EQ(Requests("PUT"), size > 5242880 ? 1 : 0);
  }
  auto file = Google().File(id);
  ASSERT_EQ(file->revisions.size(), 3u);
  EXPECT_EQ(ReadFile(file->revisions[0].contentPath), "first");
  EXPECT_TRUE(log.Contains(TLogLevel::Debug, "Drive update HTTP 200: local.bak"));

  EXPECT_EQ(drive.UpdateFileContent("missing-id", LocalFile("x", "x")).FileID, "");
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Drive update hatasi: {\"error\""));
}

TEST_F(UploadTest, MissingInputsAreRaisedBeforeAnyRequest) {
  const std::string existing = LocalFile("here.bin", "x");
  const std::string missing = local.File("nowhere.bin");
  struct Case {
    const char* name;
    std::function<void()> call;
    std::string message;
  };
  const Case cases[] = {
      {"upload", [&] { drive.UploadFile(missing, ""); }, "Dosya bulunamadı: " + missing},
      {"resumable", [&] { drive.UploadFileResumable(missing, ""); }, "Dosya bulunamadı: " + missing},
      {"update", [&] { drive.UpdateFileContent("id", missing); }, "Dosya bulunamadı: " + missing},
      {"blank id", [&] { drive.UpdateFileContent(" ", missing); }, "Guncellenecek Drive dosya ID bos."},
      {"blank id, file present", [&] { drive.UpdateFileContent("", existing); }, "Guncellenecek Drive dosya ID bos."},
  };
  cloud.Cloud().ResetCounts();
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.name << ": nothing raised";
    } catch (const EAppError& e) {
      EXPECT_EQ(e.what(), c.message) << c.name;
    }
  }
  EXPECT_EQ(Requests(), 0);
}

TEST_F(UploadTest, RefusedUploadsGiveAnEmptyResult) {
  TGoogleAuth noToken(env.Env(), "id", "secret", 8080, true, &prompts);
  TGoogleDrive noTokenDrive(noToken);
  cloud.Cloud().ResetCounts();
  EXPECT_EQ(noTokenDrive.UploadFile(LocalFile("a.txt", "a"), "").FileID, "");
  EXPECT_EQ(prompts.messages.back(), "Hata: Token yüklü değil!");
  EXPECT_EQ(Requests("POST"), 0);

  Google().SetQuotaLimit(10);
  EXPECT_EQ(drive.UploadFile(LocalFile("b.txt", std::string(20, 'b')), "").FileID, "");
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Drive upload hatasi: {\"error\""));
  EXPECT_EQ(drive.UploadFile(LocalFile("c.bin", std::string(5242881, 'c')), "").FileID, "");
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Resumable init HTTP 403: {\"error\""));
  EXPECT_EQ(drive.UploadFile(LocalFile("d.txt", "d"), "no-such-folder").FileID, "");
  EXPECT_EQ(Google().ListTree().size(), 0u);
}

TEST_F(UploadTest, EmptyFileThroughASession) {
  TDriveFileInfo result = drive.UploadFileResumable(LocalFile("empty.bin", ""), "");
  ExpectStored(result, "");
  EXPECT_EQ(result.Name, "empty.bin");
}

}  // namespace
}  // namespace calvora::test
