// Resumable uploads through sessions whose chunk requests fail.
#include "GoogleTestSupport.h"
#include "foundation/Crypto.h"

#include <gmock/gmock.h>

#include <chrono>
#include <fstream>
#include <random>
#include <vector>

namespace calvora::test {
namespace {

using Kind = devcloud::FaultRule::Kind;
using ReliabilityTest = DriveTest;

TEST_F(ReliabilityTest, SixtyFourMiBUploadSurvivesRandomChunkFailures) {
  const std::string path = local.File("big.rar");
  TMd5 md5;
  {
    std::ofstream out(path, std::ios::binary);
    for (int block = 0; block < 64; ++block) {
      const std::string bytes = PatternBytes(1048576, static_cast<std::uint32_t>(block + 100));
      md5.Update(bytes.data(), bytes.size());
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
  }
  const std::string localMd5 = md5.FinalHex();

  // After each answered chunk, one to three of the next chunk requests fail:
  // 503, 429 with the rate-limit reason, a connection cut inside the request,
  // a lost answer, or a chunk of which the server keeps only a part.
  std::mt19937 random(20240305);
  int injected = 0;
  auto injectSome = [&] {
    const int count = static_cast<int>(random() % 4);
    for (int i = 0; i < count; ++i) {
      devcloud::FaultRule rule;
      rule.method = "PUT";
      rule.pathPattern = "^/upload/drive/v3/files$";
      switch (random() % 5) {
        case 0:
          rule.kind = Kind::Status;
          rule.status = 503;
          rule.reason = "backendError";
          break;
        case 1:
          rule.kind = Kind::Status;
          rule.status = 429;
          rule.reason = "rateLimitExceeded";
          break;
        case 2:
          rule.kind = Kind::DropRequest;
          rule.afterBytes = static_cast<std::int64_t>(random() % 8388608);
          break;
        case 3:
          rule.kind = Kind::DropResponse;
          break;
        default:
          rule.kind = Kind::ShortCommit;
          rule.afterBytes = static_cast<std::int64_t>(random() % 8388608);
          break;
      }
      cloud.Cloud().AddFault(rule);
      ++injected;
    }
  };
  injectSome();
  TDriveFileInfo result = drive.UploadFile(path, "", [&](std::int64_t, std::int64_t) { injectSome(); });
  cloud.Cloud().ClearFaults();

  ASSERT_FALSE(result.FileID.empty());
  EXPECT_GT(injected, 8);
  EXPECT_EQ(result.Size, 64 * 1048576);
  EXPECT_EQ(result.MD5, localMd5);
  EXPECT_EQ(Google().Md5(result.FileID), localMd5);
  EXPECT_EQ(devcloud::Md5OfFile(Google().ContentPath(result.FileID)), localMd5);
  EXPECT_EQ(Google().FilesNamed("big.rar").size(), 1u);
}

// Google may keep less than a chunk and say so in the 308's Range: the next
// chunk starts there, also when a chunk was not kept at all.
TEST_F(ReliabilityTest, ChunksTheServerKeptOnlyPartlyAreSentAgain) {
  const std::string path = local.File("part.rar");
  const std::string bytes = PatternBytes(20 * 1048576, 7);
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  devcloud::FaultRule keepSome;
  keepSome.kind = Kind::ShortCommit;
  keepSome.method = "PUT";
  keepSome.pathPattern = "^/upload/drive/v3/files$";
  keepSome.afterBytes = 3 * 1048576 + 100;  // the first chunk: 3 MiB kept
  devcloud::FaultRule keepNone = keepSome;
  keepNone.afterBytes = 0;
  keepNone.skip = 1;  // the third chunk: nothing kept
  cloud.Cloud().AddFault(keepSome);
  cloud.Cloud().AddFault(keepNone);

  std::vector<std::int64_t> progress;
  TDriveFileInfo result = drive.UploadFile(path, "", [&](std::int64_t done, std::int64_t) { progress.push_back(done); });

  ASSERT_FALSE(result.FileID.empty());
  EXPECT_EQ(Google().Md5(result.FileID), calvora::Md5Hex(bytes));
  EXPECT_EQ(result.MD5, calvora::Md5Hex(bytes));
  const std::int64_t MiB = 1048576;
  EXPECT_THAT(progress, ::testing::ElementsAre(3 * MiB, 11 * MiB, 11 * MiB, 19 * MiB, 20 * MiB));
}

// Google may refuse the access token long before the expiry the cache
// holds: the client renews it once, saves it and carries on; a resumable
// session needs no token and goes on across a renewal.
TEST_F(ReliabilityTest, TokenRefusedBeforeItsExpiryIsRenewedOnceAndSaved) {
  const std::string cache = local.File("syc.dat");
  auth.SaveTokens(cache);
  const std::string folder = Google().AddFolder("Yedek");
  auto grants = [&] { return Google().GrantCount("refresh_token"); };

  Google().ExpireAllAccessTokens();  // the cache still says an hour
  const std::string made = drive.EnsureFolderPath(folder, "Gunluk");
  ASSERT_FALSE(made.empty());
  EXPECT_EQ(grants(), 1);
  const std::string renewed = auth.TokenData().AccessToken;
  EXPECT_NE(renewed, cloud.AccessToken());
  TGoogleAuth reader(env.Env(), "id", "secret", 8080, false);
  reader.LoadTokens(cache);
  EXPECT_EQ(reader.TokenData().AccessToken, renewed) << "the renewed token is in the cache at once";

  Google().ExpireAllAccessTokens();
  const std::string content = PatternBytes(20 * 1048576, 5);
  bool expiredAgain = false;
  TDriveFileInfo result = drive.UploadFile(LocalFile("yedek.bak", content), made, [&](std::int64_t, std::int64_t) {
    if (!expiredAgain) Google().ExpireAllAccessTokens();
    expiredAgain = true;
  });
  ASSERT_FALSE(result.FileID.empty());
  EXPECT_EQ(Google().Md5(result.FileID), calvora::Md5Hex(content));
  EXPECT_EQ(grants(), 2) << "the session start was renewed; its chunks carry no token";
  std::vector<TDriveFileInfo> files;
  ASSERT_TRUE(drive.TryListFiles(made, files));
  EXPECT_EQ(files.size(), 1u);
  EXPECT_EQ(grants(), 3);

  // A token that cannot be renewed: the request is asked once, not again.
  Google().ExpireAllAccessTokens();
  Google().RevokeRefreshToken(cloud.RefreshToken());
  cloud.Cloud().ResetCounts();
  EXPECT_FALSE(drive.TryListFiles(made, files));
  EXPECT_EQ(Requests("GET", "/drive/"), 1);
  EXPECT_EQ(Requests("POST", "/token"), 1);
}

// A black-holed link (no reset, no byte) is given up after the low-speed
// window instead of the 30-minute time-out, and the retries take over.
TEST_F(ReliabilityTest, HeldConnectionIsCutAfterTheLowSpeedWindow) {
  drive.SetLowSpeedWindowSeconds(2);
  devcloud::FaultRule hold;
  hold.kind = Kind::Hold;
  hold.method = "PUT";
  hold.pathPattern = "^/upload/drive/v3/files$";
  hold.skip = 1;  // the second chunk
  hold.delayMs = 600000;
  cloud.Cloud().AddFault(hold);
  const std::string content = PatternBytes(12 * 1048576, 11);
  auto start = std::chrono::steady_clock::now();
  TDriveFileInfo result = drive.UploadFile(LocalFile("held.bak", content), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(40));
  ASSERT_FALSE(result.FileID.empty());
  EXPECT_EQ(Google().Md5(result.FileID), calvora::Md5Hex(content));
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Chunk PUT hata (deneme 1): "));
  EXPECT_EQ(env.Clock().Sleeps(), std::vector<std::int64_t>{1000});

  hold.method = "GET";
  hold.pathPattern = "^/drive/v3/files$";
  hold.skip = 0;
  cloud.Cloud().AddFault(hold);
  start = std::chrono::steady_clock::now();
  std::vector<TDriveFileInfo> files;
  EXPECT_FALSE(drive.TryListFiles("", files));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
}  // namespace calvora::test
