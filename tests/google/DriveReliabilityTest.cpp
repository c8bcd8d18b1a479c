// A large upload through a session whose chunk requests fail at random.
#include "GoogleTestSupport.h"
#include "foundation/Crypto.h"

#include <fstream>
#include <random>

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
  // 503, 429 with the rate-limit reason, a connection cut inside the request
  // or a lost answer.
  std::mt19937 random(20240305);
  int injected = 0;
  auto injectSome = [&] {
    const int count = static_cast<int>(random() % 4);
    for (int i = 0; i < count; ++i) {
      devcloud::FaultRule rule;
      rule.method = "PUT";
      rule.pathPattern = "^/upload/drive/v3/files$";
      switch (random() % 4) {
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
        default:
          rule.kind = Kind::DropResponse;
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

}  // namespace
}  // namespace calvora::test
