// Drive downloads through a ".part" file, revision listing and download,
// and the keep-forever flag.
#include "GoogleTestSupport.h"
#include "foundation/AppError.h"

namespace calvora::test {
namespace {

using Kind = devcloud::FaultRule::Kind;
using DownloadTest = DriveTest;

TEST_F(DownloadTest, DownloadsIntoNewFoldersAndReplacesLeftovers) {
  const std::string content = PatternBytes(3 * 1048576 + 17);
  const std::string id = Google().AddFile("db.bak", "root", content);
  const std::string dest = local.File("a/b/c/db.bak");
  WriteFile(dest + ".part", "left over from an earlier attempt, and longer than nothing");
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;
  ASSERT_TRUE(drive.DownloadFile(id, dest, [&](std::int64_t done, std::int64_t total) {
    progress.emplace_back(done, total);
  }));
  EXPECT_EQ(ReadFile(dest), content);
  EXPECT_FALSE(FileExists(dest + ".part"));
  const auto size = static_cast<std::int64_t>(content.size());
  // Progress rises while the body arrives and ends with the whole size.
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), std::make_pair(size, size));
  for (size_t i = 0; i < progress.size(); ++i) {
    EXPECT_EQ(progress[i].second, size);
    if (i > 0) {
      EXPECT_GT(progress[i].first, progress[i - 1].first);
    }
  }

  // A fresh download replaces the destination; an empty file is content too.
  const std::string empty = Google().AddFile("empty", "root", "");
  ASSERT_TRUE(drive.DownloadFile(empty, dest));
  EXPECT_EQ(ReadFile(dest), "");
}

TEST_F(DownloadTest, FailedDownloadsLeaveNoPartAndTheDestinationAsItWas) {
  const std::string content = PatternBytes(2 * 1048576, 4);
  const std::string id = Google().AddFile("db.bak", "root", content);
  const std::string folder = Google().AddFolder("folder");
  struct Case {
    const char* name;
    std::string fileId;
    std::function<void()> fault;
  };
  const Case cases[] = {
      {"deleted file", "missing-id", [] {}},
      {"folder", folder, [] {}},
      {"no rights", id, [&] { cloud.Cloud().InjectStatus("GET", "^/drive/v3/files/", 1, 403, "forbidden"); }},
      {"connection dropped mid-way", id, [&] { AddFault(Kind::DropResponse, "GET", "^/drive/v3/files/", 1, 700000); }},
      {"connection dropped at once", id, [&] { AddFault(Kind::DropRequest, "GET", "^/drive/v3/files/", 1); }},
  };
  const std::string dest = local.File("keep/db.bak");
  WriteFile(dest, "previous backup");
  for (const Case& c : cases) {
    c.fault();
    EXPECT_FALSE(drive.DownloadFile(c.fileId, dest)) << c.name;
    EXPECT_EQ(ReadFile(dest), "previous backup") << c.name;
    EXPECT_FALSE(FileExists(dest + ".part")) << c.name;
  }
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Indirme istisna: " + dest));
  ASSERT_TRUE(drive.DownloadFile(id, dest));
  EXPECT_EQ(ReadFile(dest), content);
}

TEST_F(DownloadTest, RevisionsAreListedOverPagesAndDownloaded) {
  const std::string id = Google().AddFile("plan_FULL.bak", "root", "rev-0");
  for (int i = 1; i < 205; ++i) Google().AddRevision(id, "rev-" + std::to_string(i));
  cloud.Cloud().ResetCounts();
  auto revisions = drive.ListFileRevisions(id);
  ASSERT_EQ(revisions.size(), 205u);
  EXPECT_EQ(Requests("GET"), 2);
  auto stored = Google().File(id)->revisions;
  for (std::size_t i = 0; i < revisions.size(); ++i) {
    EXPECT_EQ(revisions[i].RevisionID, stored[i].id);
    EXPECT_EQ(revisions[i].Size, stored[i].size);
    EXPECT_EQ(revisions[i].MD5, stored[i].md5);
    EXPECT_EQ(revisions[i].OriginalFilename, "plan_FULL.bak");
    EXPECT_FALSE(revisions[i].KeepForever);
    EXPECT_EQ(revisions[i].ModifiedTime, ParseDriveDateTime(devcloud::FormatRfc3339Ms(stored[i].modifiedMs)));
  }

  const std::string dest = local.File("old/plan_FULL.bak");
  ASSERT_TRUE(drive.DownloadFileRevision(id, revisions[3].RevisionID, dest));
  EXPECT_EQ(ReadFile(dest), "rev-3");
  EXPECT_FALSE(drive.DownloadFileRevision(id, "no-such-revision", dest));
  EXPECT_EQ(ReadFile(dest), "rev-3");

  // A failing later page gives nothing rather than a part.
  devcloud::FaultRule rule;
  rule.method = "GET";
  rule.pathPattern = "/revisions$";
  rule.status = 500;
  rule.skip = 1;
  cloud.Cloud().AddFault(rule);
  EXPECT_TRUE(drive.ListFileRevisions(id).empty());
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Drive revision listesi HTTP 500: {"));
  EXPECT_TRUE(drive.ListFileRevisions("").empty());
  EXPECT_TRUE(drive.ListFileRevisions("missing").empty());
}

TEST_F(DownloadTest, RevisionDownloadNeedsBothIdentifiers) {
  cloud.Cloud().ResetCounts();
  for (const auto& [file, revision] : {std::pair<std::string, std::string>{"f", ""}, {"", "r"}, {" ", " "}}) {
    try {
      drive.DownloadFileRevision(file, revision, local.File("x"));
      ADD_FAILURE() << "nothing raised";
    } catch (const EAppError& e) {
      EXPECT_STREQ(e.what(), "Drive surum indirme icin dosya ya da surum kimligi bos.");
    }
  }
  EXPECT_EQ(Requests(), 0);
}

TEST_F(DownloadTest, KeepForeverFlag) {
  const std::string id = Google().AddFile("a.bak", "root", "1");
  const std::string revision = Google().AddRevision(id, "2");
  ASSERT_TRUE(drive.SetRevisionKeepForever(id, revision, true));
  EXPECT_TRUE(Google().File(id)->revisions[1].keepForever);
  EXPECT_TRUE(drive.ListFileRevisions(id)[1].KeepForever);
  ASSERT_TRUE(drive.SetRevisionKeepForever(id, revision, false));
  EXPECT_FALSE(Google().File(id)->revisions[1].keepForever);

  EXPECT_FALSE(drive.SetRevisionKeepForever(id, "unknown", true));
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Drive revision keepForever HTTP 404: {"));
  cloud.Cloud().ResetCounts();
  EXPECT_FALSE(drive.SetRevisionKeepForever("", revision, true));
  EXPECT_FALSE(drive.SetRevisionKeepForever(id, "", true));
  EXPECT_EQ(Requests(), 0);
}

TEST(RevisionAnswerTest, KeepForeverReadsAsTextIgnoringCase) {
  TStubServer server([](httplib::Server& s) {
    s.Get("/drive/v3/files/f/revisions", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(
          "{\"revisions\":[{\"id\":\"1\",\"keepForever\":\"TRUE\",\"size\":\"x\"},{\"id\":\"2\",\"keepForever\":true},"
          "{\"id\":\"3\",\"keepForever\":\"no\"},{\"id\":\"4\"}]}",
          "application/json");
    });
    s.Get("/drive/v3/files/g/revisions", [](const httplib::Request& req, httplib::Response& res) {
      if (req.has_param("pageToken"))
        res.set_content("<html>proxy error</html>", "text/html");
      else
        res.set_content("{\"nextPageToken\":\"p2\",\"revisions\":[{\"id\":\"1\"}]}", "application/json");
    });
  });
  TDeploymentSettings deployment;
  deployment.DriveApiBase = server.Url("");
  TTestEnv env(deployment);
  TGoogleAuth auth(env.Env(), "id", "secret", 8080, false);
  auth.SetTokenData(TTokenData{"token", "", IncHours(env.Env().Now(), 1)});
  TGoogleDrive drive(auth);
  auto revisions = drive.ListFileRevisions("f");
  ASSERT_EQ(revisions.size(), 4u);
  EXPECT_TRUE(revisions[0].KeepForever);
  EXPECT_EQ(revisions[0].Size, 0) << "a size that is not a number reads as 0";
  EXPECT_TRUE(revisions[1].KeepForever);
  EXPECT_FALSE(revisions[2].KeepForever);
  EXPECT_FALSE(revisions[3].KeepForever);
  EXPECT_TRUE(drive.ListFileRevisions("g").empty()) << "an unreadable later page: nothing rather than a part";
}

}  // namespace
}  // namespace calvora::test
