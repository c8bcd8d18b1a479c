// Rate limits: which answers are one, and how clients sharing a back-off
// wait them out.
#include "GoogleTestSupport.h"
#include "google/DriveBackoff.h"

#include <memory>

namespace calvora::test {
namespace {

std::string ErrorBody(const std::string& reason) {
  return "{\"error\":{\"code\":403,\"message\":\"m\",\"errors\":[{\"domain\":\"usageLimits\",\"reason\":\"" + reason +
         "\",\"message\":\"m\"}]}}";
}

TEST(DriveBackoffTest, RateLimitAnswersAre429AndTheTwo403Reasons) {
  EXPECT_TRUE(IsRateLimitAnswer(429, ""));
  EXPECT_TRUE(IsRateLimitAnswer(403, ErrorBody("rateLimitExceeded")));
  EXPECT_TRUE(IsRateLimitAnswer(403, ErrorBody("userRateLimitExceeded")));
  // A full Drive or a refused permission is not waited for.
  EXPECT_FALSE(IsRateLimitAnswer(403, ErrorBody("storageQuotaExceeded")));
  EXPECT_FALSE(IsRateLimitAnswer(403, ErrorBody("insufficientFilePermissions")));
  EXPECT_FALSE(IsRateLimitAnswer(403, "not json"));
  EXPECT_FALSE(IsRateLimitAnswer(403, "{\"error\":\"rateLimitExceeded\"}"));
  EXPECT_FALSE(IsRateLimitAnswer(503, ErrorBody("rateLimitExceeded")));
}

class DriveBackoffClientTest : public DriveTest {
 protected:
  void LimitListings(int count) {
    devcloud::FaultRule rule;
    rule.method = "GET";
    rule.pathPattern = "^/drive/v3/files$";
    rule.status = 429;
    rule.reason = "rateLimitExceeded";
    rule.remaining = count;
    cloud.Cloud().AddFault(rule);
  }
};

TEST_F(DriveBackoffClientTest, WaitsDoubleWithJitterAndGiveUpAfterTheLastAttempt) {
  auto backoff = std::make_shared<TDriveBackoff>(env.Clock());
  drive.SetBackoff(backoff);
  std::vector<TDriveFileInfo> files;
  LimitListings(3);
  EXPECT_TRUE(drive.TryListFiles("root", files));
  const auto sleeps = env.Clock().Sleeps();
  ASSERT_EQ(sleeps.size(), 3u);
  for (size_t i = 0; i < sleeps.size(); ++i) {
    const std::int64_t base = TDriveBackoff::kFirstWaitMs << i;
    EXPECT_GE(sleeps[i], base) << i;
    EXPECT_LE(sleeps[i], base + TDriveBackoff::kFirstWaitMs) << i;
  }

  // After a success the next limit starts short again; past the attempts
  // the answer goes to the caller.
  cloud.Cloud().ResetCounts();
  LimitListings(TDriveBackoff::kAttempts);
  EXPECT_FALSE(drive.TryListFiles("root", files));
  EXPECT_EQ(Requests("GET", "/drive/v3/files"), TDriveBackoff::kAttempts);
  EXPECT_LE(env.Clock().Sleeps()[3], 2 * TDriveBackoff::kFirstWaitMs);
  cloud.Cloud().ClearFaults();

  // Without a back-off a limit is the caller's at once, as before.
  drive.SetBackoff(nullptr);
  LimitListings(1);
  EXPECT_FALSE(drive.TryListFiles("root", files));
}

TEST_F(DriveBackoffClientTest, ALimitMetByOneClientHoldsBackTheOthers) {
  auto backoff = std::make_shared<TDriveBackoff>(env.Clock());
  TGoogleDrive other(auth);
  drive.SetBackoff(backoff);
  other.SetBackoff(backoff);
  std::vector<TDriveFileInfo> files;
  LimitListings(1);
  EXPECT_TRUE(drive.TryListFiles("root", files));
  ASSERT_EQ(env.Clock().Sleeps().size(), 1u);
  // The other client's next request comes after the wait: none of its own.
  backoff->RateLimited();
  EXPECT_TRUE(other.TryListFiles("root", files));
  EXPECT_EQ(env.Clock().Sleeps().size(), 2u);
}

}  // namespace
}  // namespace calvora::test
