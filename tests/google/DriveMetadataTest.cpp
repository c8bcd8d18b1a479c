// Drive client: folders and their cache, listings, lookups, metadata,
// quota, folder sizes, deletion and Drive time stamps.
#include "GoogleTestSupport.h"

#include <cstdlib>
#include <ctime>
#include <limits>
#include <mutex>

namespace calvora::test {
namespace {

using MetadataTest = DriveTest;

TEST_F(MetadataTest, EnsureFolderPathNormalisesAndCaches) {
  const std::string root = Google().AddFolder("Root");
  const std::string id = drive.EnsureFolderPath(root, "Plan/2024/Mart");
  ASSERT_FALSE(id.empty());
  auto tree = Google().ListTree();
  ASSERT_EQ(tree.size(), 4u);
  EXPECT_EQ(tree[3].path, "Root/Plan/2024/Mart");
  EXPECT_EQ(tree[3].id, id);

  // Equivalent spellings resolve the same folders from the cache.
  cloud.Cloud().ResetCounts();
  for (const char* path : {"Plan/2024/Mart", "\\Plan\\2024\\Mart\\", "Plan//2024///Mart/", "/Plan\\2024/Mart"})
    EXPECT_EQ(drive.EnsureFolderPath(root, path), id) << path;
  EXPECT_EQ(Requests(), 0);
  for (const char* path : {"", "/", "\\\\", "//\\"}) EXPECT_EQ(drive.EnsureFolderPath(root, path), root) << path;
  EXPECT_EQ(Requests(), 0);

  // After a reset the folders are looked up again, not created again.
  drive.ResetFolderCache();
  EXPECT_EQ(drive.EnsureFolderPath(root, "Plan\\2024\\Mart"), id);
  EXPECT_EQ(Requests("GET"), 3);
  EXPECT_EQ(Requests("POST"), 0);
  EXPECT_EQ(Google().ListTree().size(), 4u);

  // A second root has its own cache keys.
  const std::string other = Google().AddFolder("Other");
  EXPECT_NE(drive.EnsureFolderPath(other, "Plan"), drive.EnsureFolderPath(root, "Plan"));
}

TEST_F(MetadataTest, FindSubFolderEscapesQuotesAndBackslashes) {
  const std::string parent = Google().AddFolder("P");
  for (const std::string name : {"O'Brien", "a\\b", "x\\'y", "it's\\\\", "Çalışma Ş"}) {
    const std::string id = Google().AddFolder(name, parent);
    EXPECT_EQ(drive.FindSubFolder(parent, name), id) << name;
  }
  for (const std::string name : {"O'Brien", "Çalışma Ş"})
    EXPECT_EQ(drive.EnsureFolderPath(parent, name), drive.FindSubFolder(parent, name)) << "found, not made again";
  EXPECT_EQ(Google().Children(parent).size(), 5u);
  const std::string trashed = Google().AddFolder("Eski", parent);
  Google().SetTrashed(trashed, true);
  EXPECT_EQ(drive.FindSubFolder(parent, "Eski"), "");
  Google().AddFile("Dosya", parent, "x");
  EXPECT_EQ(drive.FindSubFolder(parent, "Dosya"), "") << "files are not folders";
  EXPECT_EQ(drive.FindSubFolder("missing-parent", "P"), "");
}

TEST_F(MetadataTest, CreateFolderReportsRefusals) {
  cloud.Cloud().InjectStatus("POST", "^/drive/v3/files$", 1, 403, "insufficientPermissions");
  const std::string root = Google().AddFolder("R");
  EXPECT_EQ(drive.EnsureFolderPath(root, "A/B"), "");
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Klasor olusturma HTTP 403: {\"error\""));
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Alt klasor olusturulamadi: A (parent=" + root + ")"));
  const std::string made = drive.EnsureFolderPath(root, "A/B");
  EXPECT_EQ(made, drive.FindSubFolder(drive.FindSubFolder(root, "A"), "B")) << "nothing half-made was remembered";
  const std::string top = drive.CreateFolder("Top", "");
  EXPECT_EQ(top, drive.FindSubFolder(Google().RootFolderId(), "Top")) << "no parent: the root";
}

// A lookup Drive did not answer is not "no such folder": nothing is created
// on its strength, and the server's message travels with the error.
TEST_F(MetadataTest, FailedLookupNeverCreatesAFolder) {
  const std::string root = Google().AddFolder("R");
  const std::string plan = Google().AddFolder("Plan", root);
  struct Case {
    devcloud::FaultRule::Kind kind;
    int skip;  // which lookup of the path fails
    const char* text;
  };
  using Kind = devcloud::FaultRule::Kind;
  const Case cases[] = {
      {Kind::Status, 0, "Drive klasoru aranamadi: Plan (HTTP 500: Injected fault: backendError)"},
      {Kind::Status, 1, "Drive klasoru aranamadi: Gunluk (HTTP 500: Injected fault: backendError)"},
      {Kind::DropRequest, 0, "Drive klasoru aranamadi: Plan ("},
      {Kind::DropRequest, 1, "Drive klasoru aranamadi: Gunluk ("},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    drive.ResetFolderCache();
    AddFault(c.kind, "GET", "^/drive/v3/files$", 1, 0, c.skip, 500);
    cloud.Cloud().ResetCounts();
    try {
      drive.EnsureFolderPath(root, "Plan/Gunluk");
      ADD_FAILURE() << "nothing raised";
    } catch (const EDriveError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.text, 0), 0u) << e.what();
    }
    EXPECT_EQ(Requests("POST"), 0);
    EXPECT_EQ(Google().ListTree().size(), 2u);
  }
  AddFault(devcloud::FaultRule::Kind::Status, "GET", "^/drive/v3/files$", 1, 0, 0, 503);
  std::string id, error;
  EXPECT_FALSE(drive.TryFindSubFolder(root, "Plan", id, error));
  EXPECT_EQ(error, "Drive klasoru aranamadi: Plan (HTTP 503: Injected fault: backendError)");
  EXPECT_EQ(drive.FindSubFolder(root, "Plan"), plan) << "answered: found";
  EXPECT_TRUE(drive.TryFindSubFolder(root, "Yok", id, error));
  EXPECT_EQ(id, "") << "answered: not there";

  // Once Drive answers, the missing folder is made, once.
  drive.ResetFolderCache();
  const std::string made = drive.EnsureFolderPath(root, "Plan/Gunluk");
  EXPECT_EQ(drive.EnsureFolderPath(root, "Plan/Gunluk"), made);
  EXPECT_EQ(Google().Children(plan).size(), 1u);
  EXPECT_EQ(Google().ListTree().size(), 3u);
}

TEST_F(MetadataTest, ListingsThatNeverEndFailInsteadOfLoopingOrStoppingShort) {
  const std::string folder = Google().AddFolder("Dongu");
  for (int i = 0; i < 3; ++i) Google().AddFile("f" + std::to_string(i), folder, "x");
  const std::string file = Google().AddFile("rev.bak", folder, "r0");
  Google().AddRevision(file, "r1");
  using Kind = devcloud::FaultRule::Kind;

  // The same page token again and again.
  AddFault(Kind::RepeatPageToken, "GET", "^/drive/v3/files$", 100000);
  cloud.Cloud().ResetCounts();
  std::vector<TDriveFileInfo> files;
  std::string error;
  EXPECT_FALSE(drive.TryListFiles(folder, files, &error));
  EXPECT_EQ(error, "Drive listesi ayni sayfa belirtecini tekrarladi; liste tamamlanamadi.");
  EXPECT_TRUE(files.empty());
  EXPECT_TRUE(drive.ListFiles(folder).empty()) << "never a part taken for the whole";
  TDriveFileInfo found;
  EXPECT_FALSE(drive.TryFindFileInFolder(folder, "f1", found));
  EXPECT_LE(Requests("GET"), 9);
  cloud.Cloud().ClearFaults();
  AddFault(Kind::RepeatPageToken, "GET", "/revisions$", 100000);
  EXPECT_TRUE(drive.ListFileRevisions(file).empty());
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Drive revision listesi: Drive listesi ayni sayfa belirtecini tekrarladi"));
  cloud.Cloud().ClearFaults();

  // A fresh token each time: the page cap ends it.
  AddFault(Kind::EndlessPages, "GET", "^/drive/v3/files$", 100000);
  cloud.Cloud().ResetCounts();
  EXPECT_FALSE(drive.TryListFiles(folder, files, &error));
  EXPECT_EQ(error, "Drive listesi 10000 sayfada bitmedi; liste tamamlanamadi.");
  EXPECT_EQ(Requests("GET"), TGoogleDrive::kMaxListPages);
  cloud.Cloud().ClearFaults();

  ASSERT_TRUE(drive.TryListFiles(folder, files, &error));
  EXPECT_EQ(files.size(), 4u);
  EXPECT_EQ(drive.ListFileRevisions(file).size(), 2u);
}

// Sizes come from the server: a sum never overflows, a negative size adds
// nothing and a folder listed below itself is counted once.
TEST_F(MetadataTest, FolderSizeOfHostileSizesSaturates) {
  const std::string top = Google().AddFolder("Top");
  const std::string sub = Google().AddFolder("Sub", top);
  const std::string huge = Google().AddFile("huge.bin", top, "h");
  const std::string one = Google().AddFile("one.bin", sub, "1");
  const std::string negative = Google().AddFile("neg.bin", sub, "n");
  {
    std::lock_guard<std::mutex> guard(Google().Lock());
    auto& stored = Google().FilesLocked();
    stored[huge].revisions.back().size = std::numeric_limits<std::int64_t>::max();
    stored[negative].revisions.back().size = -5;
    stored[top].parents.push_back(sub);  // Top is also a child of Sub
  }
  EXPECT_EQ(drive.GetFolderSize(sub), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(drive.GetFolderSize(top), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(drive.GetFileMetadata(negative).Size, 0);
  {
    std::lock_guard<std::mutex> guard(Google().Lock());
    Google().FilesLocked()[huge].revisions.back().size = 10;
  }
  EXPECT_EQ(drive.GetFolderSize(top), 11) << "each file once, however the folders loop";
  EXPECT_EQ(drive.GetFileMetadata(one).Size, 1);
  EXPECT_EQ(AddByteCounts(std::numeric_limits<std::int64_t>::max() - 1, 5), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(AddByteCounts(-7, 3), 3);
}

// Drive answers a creation with 200; a 201 (what a new resource may get)
// is a success too.
TEST(DriveAnswerTest, CreateFolderTakesEitherSuccessStatus) {
  TStubServer server([](httplib::Server& s) {
    s.Post("/drive/v3/files", [](const httplib::Request&, httplib::Response& res) {
      res.status = 201;
      res.set_content(R"({"id":"new-folder","name":"A"})", "application/json");
    });
  });
  TDeploymentSettings deployment;
  deployment.DriveApiBase = server.Url("");
  TTestEnv env(deployment);
  TGoogleAuth auth(env.Env(), "id", "secret", 8080, false);
  auth.SetTokenData(TTokenData{"token", "", IncHours(env.Env().Now(), 1)});
  TGoogleDrive drive(auth);
  EXPECT_EQ(drive.CreateFolder("A", "parent"), "new-folder");
}

TEST_F(MetadataTest, ListFilesFollowsEveryPage) {
  const std::string folder = Google().AddFolder("Many");
  for (int i = 0; i < 1001; ++i) Google().AddFile("f" + std::to_string(i), folder, std::to_string(i));
  const std::string sub = Google().AddFolder("Sub", folder);
  Google().AddFile("elsewhere", "root", "x");
  const std::string gone = Google().AddFile("gone", folder, "x");
  Google().SetTrashed(gone, true);
  cloud.Cloud().ResetCounts();

  auto files = drive.ListFiles(folder);
  ASSERT_EQ(files.size(), 1002u);
  EXPECT_EQ(Requests("GET", "/drive/v3/files"), 2);
  EXPECT_EQ(files[0].Name, "f0");
  EXPECT_EQ(files[1000].Name, "f1000");
  EXPECT_EQ(files[1000].Size, 4);
  EXPECT_EQ(files[1000].MD5, devcloud::Md5Hex("1000"));
  EXPECT_GT(files[1000].ModifiedTime, 0);
  EXPECT_EQ(files[1001].FileID, sub);
  EXPECT_EQ(files[1001].MimeType, kDriveFolderMimeType);
  EXPECT_EQ(files[1001].Size, 0);
  EXPECT_EQ(drive.ListFiles("").size(), 1005u) << "no parent: everything, trashed included";
  EXPECT_TRUE(drive.ListFiles("unknown").empty());
}

TEST_F(MetadataTest, TryListingsTellAFailureFromAnEmptyFolder) {
  const std::string folder = Google().AddFolder("Many");
  for (int i = 0; i < 1001; ++i) Google().AddFile("f" + std::to_string(i), folder, "x");
  const std::string empty = Google().AddFolder("Empty");
  std::vector<TDriveFileInfo> files;
  ASSERT_TRUE(drive.TryListFiles(folder, files));
  EXPECT_EQ(files.size(), 1001u);
  ASSERT_TRUE(drive.TryListFiles(empty, files));
  EXPECT_TRUE(files.empty());

  cloud.Cloud().InjectStatus("GET", "^/drive/v3/files$", 1, 500);
  AddFault(devcloud::FaultRule::Kind::Status, "GET", "^/drive/v3/files$", 1, 0, /*skip=*/1, 500);
  EXPECT_FALSE(drive.TryListFiles(folder, files)) << "first page refused";
  EXPECT_FALSE(drive.TryListFiles(folder, files)) << "second page refused";
  EXPECT_TRUE(files.empty());

  TDriveFileInfo found;
  ASSERT_TRUE(drive.TryFindFileInFolder(folder, "F1000", found));
  EXPECT_EQ(found.Name, "f1000");
  ASSERT_TRUE(drive.TryFindFileInFolder(folder, "none", found));
  EXPECT_EQ(found.FileID, "");
  AddFault(devcloud::FaultRule::Kind::DropRequest, "GET", "^/drive/v3/files$", 1);
  EXPECT_FALSE(drive.TryFindFileInFolder(folder, "f1", found));
}

TEST_F(MetadataTest, FindFileInFolderSkipsFoldersAndIgnoresCase) {
  const std::string parent = Google().AddFolder("P");
  Google().AddFolder("Rapor.bak", parent);
  const std::string file = Google().AddFile("RAPOR.BAK", parent, "r");
  EXPECT_EQ(drive.FindFileInFolder(parent, "rapor.bak").FileID, file);
  EXPECT_EQ(drive.FindFileInFolder(parent, "yok.bak").FileID, "");
  EXPECT_EQ(drive.FindFileInFolder("", "rapor.bak").FileID, "");
  EXPECT_EQ(drive.FindFileInFolder(parent, " ").FileID, "");
}

TEST_F(MetadataTest, FileMetadataQuotaSizesAndDeletion) {
  const std::string top = Google().AddFolder("Top");
  const std::string a = Google().AddFile("a.bin", top, std::string(100, 'a'));
  const std::string sub = Google().AddFolder("Sub", top);
  Google().AddFile("b.bin", sub, std::string(50, 'b'));
  Google().AddFile("c.bin", Google().AddFolder("Deeper", sub), std::string(7, 'c'));
  Google().SetModifiedTime(a, 1709632800123);  // 2024-03-05T10:00:00.123Z

  TDriveFileInfo info = drive.GetFileMetadata(a);
  EXPECT_EQ(info.FileID, a);
  EXPECT_EQ(info.Name, "a.bin");
  EXPECT_EQ(info.Size, 100);
  EXPECT_EQ(info.MD5, devcloud::Md5Hex(std::string(100, 'a')));
  EXPECT_EQ(info.MimeType, "application/octet-stream");
  EXPECT_EQ(info.ModifiedTime, ParseDriveDateTime("2024-03-05T10:00:00.123Z"));
  EXPECT_EQ(drive.GetFileMetadata("missing").FileID, "");

  EXPECT_EQ(drive.GetFolderSize(top), 157);
  EXPECT_EQ(drive.GetFolderSize(""), 0);

  TDriveStorageQuota quota;
  ASSERT_TRUE(drive.GetStorageQuota(quota));
  EXPECT_EQ(quota.LimitBytes, 0);
  EXPECT_EQ(quota.UsedBytes, 157);
  EXPECT_EQ(quota.UsedInDriveBytes, 157);
  Google().SetQuotaLimit(1000);
  Google().SetTrashed(a, true);
  ASSERT_TRUE(drive.GetStorageQuota(quota));
  EXPECT_EQ(quota.LimitBytes, 1000);
  EXPECT_EQ(quota.TrashBytes, 100);
  cloud.Cloud().InjectStatus("GET", "^/drive/v3/about$", 1, 500);
  EXPECT_FALSE(drive.GetStorageQuota(quota));
  EXPECT_EQ(quota.LimitBytes, 0);
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Drive kota bilgisi alinamadi HTTP 500: "));

  EXPECT_TRUE(drive.DeleteFile(sub));
  EXPECT_FALSE(Google().File(sub));
  EXPECT_EQ(Google().ListTree().size(), 2u) << "a folder goes with its content";
  EXPECT_FALSE(drive.DeleteFile(sub)) << "already gone";
  EXPECT_FALSE(drive.DeleteFile("never-existed"));
}

// Runs `body` with the process's time zone set to `zone`.
template <typename F>
void InTimeZone(const char* zone, F body) {
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", zone, 1);
  tzset();
  body();
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST(ParseDriveDateTimeTest, ReadsUtcStampsAsLocalTime) {
  InTimeZone("Europe/Istanbul", [] {
    struct Case {
      const char* text;
      TDateTime expected;
    };
    const Case cases[] = {
        {"2024-03-05T22:30:00.123Z", EncodeDateTime(2024, 3, 6, 1, 30, 0, 123)},  // the local date is the next day
        {" 2024-03-05T10:00:00Z ", EncodeDateTime(2024, 3, 5, 13, 0, 0)},
        {"2024-03-05T10:00:00+01:00", EncodeDateTime(2024, 3, 5, 12, 0, 0)},
        {"2024-03-05T10:20:30", EncodeDateTime(2024, 3, 5, 10, 20, 30)},  // no zone: taken as it is
        {"2024-03-05T10:20:30.75", EncodeDateTime(2024, 3, 5, 10, 20, 30)},
        {"2024-03-05 10:20", EncodeDateTime(2024, 3, 5, 10, 20, 0)},
        {"", 0},
        {"yesterday", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseDriveDateTime(c.text), c.expected) << c.text;
  });
}

TEST(DrivePathTest, NormalizeDrivePath) {
  EXPECT_EQ(NormalizeDrivePath("\\a\\b\\"), "a/b");
  EXPECT_EQ(NormalizeDrivePath("//a//b//"), "a//b");
  EXPECT_EQ(NormalizeDrivePath("///"), "");
  for (int status : {408, 429, 500, 503, 599}) EXPECT_TRUE(IsRetryableStatus(status)) << status;
  for (int status : {200, 308, 400, 401, 403, 404, 600}) EXPECT_FALSE(IsRetryableStatus(status)) << status;
}

}  // namespace
}  // namespace calvora::test
