#include "DriveTestSupport.h"

#include "account/uFirebaseActiveAccount.h"
#include "accountdrive/uAccountDriveContext.h"
#include "accountdrive/uDriveQuotaManager.h"

#include <gtest/gtest.h>

#include <limits>
#include <mutex>

namespace calvora {
namespace {

using devcloud::DatabaseJson;

constexpr std::int64_t kMiB = 1048576;

TEST(AccountFolderName, ReplacesWhatDriveAndWindowsPathsReject) {
  struct Case {
    const char* text;
    const char* name;
  } cases[] = {
      {" Çağrı: Yapı/İnşaat ", "Çağrı- Yapı-İnşaat"},
      {"a*b?c<d>e|f\\g\"h", "a-b-c-d-e-f-g-h"},
      {"   ", "Hesap"},
  };
  for (const auto& c : cases) EXPECT_EQ(SanitizeAccountFolderName(c.text), c.name) << c.text;
}

TEST(ByteSize, PowersOf1024WithTwoDecimals) {
  struct Case {
    std::int64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0 B"},
      {-5, "-5 B"},
      {1023, "1023 B"},
      {1024, "1.00 KB"},
      {1536, "1.50 KB"},
      {kMiB - 1, "1024.00 KB"},
      {kMiB, "1.00 MB"},
      {100 * kMiB, "100.00 MB"},
      {1073741824LL, "1.00 GB"},
      {1099511627776LL, "1.00 TB"},
      {3 * 1099511627776LL / 2, "1.50 TB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatByteSize(c.bytes), c.text) << c.bytes;
}

class AccountRootFolderTest : public test::AccountDriveTest {};

TEST_F(AccountRootFolderTest, NamedAfterTheAccountAndCreatedOnce) {
  AddAccount("m1", DatabaseJson{{"LoginName", "ali:veli"}, {"Musteri", "  "}, {"Sifre", "pw"}});
  std::string name, error, folderID;
  EXPECT_FALSE(GetAccountRootFolderName(Env(), name, error));
  EXPECT_EQ(error, kNoSavedSignInMessage);
  EXPECT_FALSE(EnsureAccountRootFolder(Env(), *drive, "", folderID, error));

  SignInAs("ali:veli");
  ASSERT_TRUE(GetAccountRootFolderName(Env(), name, error)) << error;
  EXPECT_EQ(name, "ali-veli");

  ASSERT_TRUE(EnsureAccountRootFolder(Env(), *drive, "  ", folderID, error)) << error;
  auto folder = Google().File(folderID);
  ASSERT_TRUE(folder.has_value());
  EXPECT_EQ(folder->name, "ali-veli");
  EXPECT_EQ(folder->parents, std::vector<std::string>{Google().RootFolderId()});
  std::string again;
  ASSERT_TRUE(EnsureAccountRootFolder(Env(), *drive, "root", again, error));
  EXPECT_EQ(again, folderID);

  const std::string backups = Google().AddFolder("Yedekler");
  ASSERT_TRUE(EnsureAccountRootFolder(Env(), *drive, " " + backups + " ", folderID, error));
  EXPECT_EQ(Google().File(folderID)->parents, std::vector<std::string>{backups});
}

// A lookup of the account folder that Drive does not answer fails, with
// the server's message, and never creates a second account folder.
TEST_F(AccountRootFolderTest, FailedLookupNeverCreatesASecondAccountFolder) {
  AddAccount("m1", DatabaseJson{{"LoginName", "ali"}, {"Musteri", "Ali Ltd"}, {"Sifre", "pw"}});
  std::string folderID, error;
  bool driveFailed = true;
  EXPECT_FALSE(EnsureAccountRootFolder(Env(), *drive, "", folderID, error, &driveFailed));
  EXPECT_FALSE(driveFailed) << "no saved sign-in: the account lookup failed, not Drive";
  SignInAs("ali");
  const std::string existing = Google().AddFolder("Ali Ltd");
  cloud.Cloud().InjectStatus("GET", "^/drive/v3/files$", 1, 500);
  EXPECT_FALSE(EnsureAccountRootFolder(Env(), *drive, "", folderID, error, &driveFailed));
  EXPECT_EQ(error, "Hesap ana klasoru hazirlanamadi: Drive klasoru aranamadi: Ali Ltd (HTTP 500: Injected fault: "
                   "backendError)");
  EXPECT_TRUE(driveFailed);
  EXPECT_EQ(folderID, "");
  devcloud::FaultRule drop;
  drop.kind = devcloud::FaultRule::Kind::DropRequest;
  drop.method = "GET";
  drop.pathPattern = "^/drive/v3/files$";
  cloud.Cloud().AddFault(drop);
  EXPECT_FALSE(EnsureAccountRootFolder(Env(), *drive, "", folderID, error, &driveFailed));
  EXPECT_TRUE(driveFailed);
  EXPECT_EQ(cloud.Cloud().RequestCount("POST", "/drive/v3/files"), 0);

  ASSERT_TRUE(EnsureAccountRootFolder(Env(), *drive, "", folderID, error, &driveFailed)) << error;
  EXPECT_EQ(folderID, existing);
  EXPECT_FALSE(driveFailed);
  EXPECT_EQ(Google().FilesNamed("Ali Ltd").size(), 1u);
}

class QuotaGuardTest : public test::AccountDriveTest {
 protected:
  // An account with a 2 MiB quota whose folder already holds 1 MiB.
  std::string SeedQuotaAccount() {
    AddAccount("m1", DatabaseJson{{"LoginName", "ali"}, {"Musteri", "Ali Ltd"}, {"Sifre", "pw"}, {"KotaMB", "2"}});
    SignInAs("ali");
    std::string folderID, error;
    EXPECT_TRUE(EnsureAccountRootFolder(Env(), *drive, "", folderID, error)) << error;
    Google().AddFile("a.bak", folderID, std::string(kMiB / 2, 'a'));
    Google().AddFile("b.bak", Google().AddFolder("plan", folderID), std::string(kMiB / 2, 'b'));
    Google().AddFile("elsewhere.bak", "root", std::string(kMiB, 'c'));  // not the account's
    return folderID;
  }
};

TEST_F(QuotaGuardTest, AccountQuotaAllowsReachingTheLimitExactly) {
  SeedQuotaAccount();
  TAccountDriveUsage usage;
  std::string error;
  ASSERT_TRUE(GetAccountDriveUsage(Env(), *drive, "", usage, error)) << error;
  EXPECT_TRUE(usage.UsesAccountQuota);
  EXPECT_EQ(usage.LimitBytes, 2 * kMiB);
  EXPECT_EQ(usage.UsedBytes, kMiB);

  EXPECT_TRUE(CheckDriveSpaceForUpload(Env(), *drive, "", kMiB, error)) << error;
  EXPECT_FALSE(CheckDriveSpaceForUpload(Env(), *drive, "", kMiB + 1, error));
  EXPECT_EQ(error, "Disk alani yetersiz. Hesap kotasi asiliyor. Kullanilan: 1.00 MB, Limit: 2.00 MB, "
                   "Gerekli ek alan: 1.00 MB.");
}

TEST_F(QuotaGuardTest, UnreadableAccountFolderDoesNotPassTheGuard) {
  SeedQuotaAccount();
  cloud.Cloud().InjectStatus("GET", "^/drive/v3/files$", 5, 500);
  std::string error;
  EXPECT_FALSE(CheckDriveSpaceForUpload(Env(), *drive, "", 1, error));
  EXPECT_EQ(error, "Hesap klasorunun kullandigi alan okunamadi.");
}

// Sizes and quotas come from servers: the sums stop at the largest 64-bit
// value, so a huge figure refuses the upload instead of wrapping round.
TEST_F(QuotaGuardTest, HugeSizesAndQuotasSaturateInsteadOfOverflowing) {
  const std::string folder = SeedQuotaAccount();
  const std::string huge = Google().AddFile("huge.bak", folder, "h");
  {
    std::lock_guard<std::mutex> guard(Google().Lock());
    Google().FilesLocked()[huge].revisions.back().size = std::numeric_limits<std::int64_t>::max();
  }
  TAccountDriveUsage usage;
  std::string error;
  ASSERT_TRUE(GetAccountDriveUsage(Env(), *drive, "", usage, error)) << error;
  EXPECT_EQ(usage.UsedBytes, std::numeric_limits<std::int64_t>::max());
  EXPECT_FALSE(CheckDriveSpaceForUpload(Env(), *drive, "", 1, error));
  EXPECT_EQ(error.rfind("Disk alani yetersiz. Hesap kotasi asiliyor.", 0), 0u) << error;

  cloud.Cloud().Account().Write("Lisanslar/m1/KotaMB", DatabaseJson("9000000000000000"));
  Clock().AdvanceSeconds(600);  // past the account caches
  ASSERT_TRUE(GetAccountDriveUsage(Env(), *drive, "", usage, error)) << error;
  EXPECT_EQ(usage.LimitBytes, std::numeric_limits<std::int64_t>::max());
}

TEST_F(QuotaGuardTest, WithoutAccountQuotaTheDriveStorageIsTheLimit) {
  AddAccount("m1", DatabaseJson{{"LoginName", "ali"}, {"Sifre", "pw"}, {"KotaMB", "0"}});
  SignInAs("ali");
  Google().AddFile("x.bak", "root", std::string(kMiB, 'x'));
  std::string error;
  EXPECT_TRUE(CheckDriveSpaceForUpload(Env(), *drive, "", 1099511627776LL, error)) << error;  // no limit

  Google().SetQuotaLimit(2 * kMiB);
  TAccountDriveUsage usage;
  ASSERT_TRUE(GetAccountDriveUsage(Env(), *drive, "", usage, error));
  EXPECT_FALSE(usage.UsesAccountQuota);
  EXPECT_EQ(usage.LimitBytes, 2 * kMiB);
  EXPECT_EQ(usage.UsedBytes, kMiB);
  EXPECT_TRUE(CheckDriveSpaceForUpload(Env(), *drive, "", kMiB, error));
  EXPECT_FALSE(CheckDriveSpaceForUpload(Env(), *drive, "", kMiB + 1024, error));
  EXPECT_EQ(error, "Disk alani yetersiz. Google Drive kapasitesi yetersiz. Kullanilan: 1.00 MB, Limit: 2.00 MB, "
                   "Gerekli ek alan: 1.00 MB.");

  cloud.Cloud().InjectStatus("GET", "^/drive/v3/about", 1, 500);
  EXPECT_FALSE(CheckDriveSpaceForUpload(Env(), *drive, "", 1, error));
  EXPECT_EQ(error, "Drive kota bilgisi okunamadi.");
}

TEST_F(QuotaGuardTest, NothingToUploadPassesWithoutAnyRequest) {
  cloud.Cloud().ResetCounts();
  std::string error = "old";
  EXPECT_TRUE(CheckDriveSpaceForUpload(Env(), *drive, "", 0, error));  // no saved sign-in either
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(cloud.Cloud().RequestCount(), 0);
  EXPECT_FALSE(CheckDriveSpaceForUpload(Env(), *drive, "", 1, error));
  EXPECT_EQ(error, kNoSavedSignInMessage);
}

}  // namespace
}  // namespace calvora
