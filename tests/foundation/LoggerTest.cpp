#include "foundation/AppError.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace calvora {
namespace {

constexpr const char* kBom = "\xEF\xBB\xBF";

// Each test starts the process-wide log in a folder of its own.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { FinalizeLog(); }
  void TearDown() override { FinalizeLog(); }
  std::string LogFile() const { return dir.Path() + "/logs/log.txt"; }
  std::string OldLogFile() const { return dir.Path() + "/logs/log.old.txt"; }
  test::TTempDir dir;
  test::TFakeClock clock;
};

TEST_F(LogTest, NothingIsWrittenBeforeInit) {
  LogInfo("early");
  EXPECT_FALSE(DirectoryExists(dir.Path() + "/logs"));
  InitLog(dir.Path() + "/logs", clock);
  EXPECT_EQ(test::ReadFile(LogFile()).find("early"), std::string::npos);
}

TEST_F(LogTest, BannerAndLinesInTheFixedFormat) {
  InitLog(dir.Path() + "/logs", clock);  // creates the folder
  LogDebug("d");
  clock.AdvanceSeconds(61);
  LogInfoFmt("%s: %d dosya, %.1f MB", "Upload", 3, 1.25);
  LogWarn("w");
  LogError("e");
  LogLine(static_cast<TLogLevel>(7), "odd");
  LogInfo("iki\r\nsatir");
  EXPECT_EQ(test::ReadFile(LogFile()),
            std::string(kBom) +
                "=== Uygulama basladi: 2024-03-05 10:00:00 ===\r\n"
                "2024-03-05 10:00:00 [DEBUG] d\r\n"
                "2024-03-05 10:01:01 [INFO ] Upload: 3 dosya, 1.2 MB\r\n"
                "2024-03-05 10:01:01 [WARN ] w\r\n"
                "2024-03-05 10:01:01 [ERROR] e\r\n"
                "2024-03-05 10:01:01 [?????] odd\r\n"
                "2024-03-05 10:01:01 [INFO ] iki\r\nsatir\r\n");
}

TEST_F(LogTest, AppendingToAnExistingFileAddsNoMarkAndASecondInitChangesNothing) {
  test::WriteFile(LogFile(), "previous\r\n");
  InitLog(dir.Path() + "/logs", clock);
  test::TTempDir other;
  InitLog(other.Path(), clock);
  LogInfo("x");
  EXPECT_EQ(test::ReadFile(LogFile()),
            "previous\r\n=== Uygulama basladi: 2024-03-05 10:00:00 ===\r\n2024-03-05 10:00:00 [INFO ] x\r\n");
  EXPECT_FALSE(FileExists(other.File("log.txt")));
}

TEST_F(LogTest, ExceptionLinesNameTheErrorClass) {
  InitLog(dir.Path() + "/logs", clock);
  test::TLogCapture capture;
  LogException("DB backup istisnasi", EFileError("Dosya acilamadi: x"));
  const std::runtime_error runtime("boom");
  LogException("Hesap listesi okunurken hata: ", &runtime);
  LogException("yalniz mesaj");
  EXPECT_EQ(capture.Lines(), (std::vector<std::string>{
                                 "ERROR DB backup istisnasi | EFileError: Dosya acilamadi: x",
                                 "ERROR Hesap listesi okunurken hata:  | std::runtime_error: boom",
                                 "ERROR yalniz mesaj"}));
}

TEST_F(LogTest, RotatesAtExactlyTheLimit) {
  ForceDirectories(dir.Path() + "/logs");
  test::WriteFile(OldLogFile(), "oldest");
  test::WriteFile(LogFile(), std::string(TLogger::kSizeLimit - 1, 'a'));
  InitLog(dir.Path() + "/logs", clock);  // the banner is not checked against the limit
  ASSERT_GT(FileSizeOf(LogFile()), TLogger::kSizeLimit);
  test::WriteFile(LogFile(), std::string(TLogger::kSizeLimit - 1, 'a'));
  LogInfo("below");  // 2,097,151 bytes: no rotation
  EXPECT_EQ(test::ReadFile(OldLogFile()), "oldest");

  test::WriteFile(LogFile(), std::string(TLogger::kSizeLimit, 'b'));
  LogInfo("first of the new file");
  EXPECT_EQ(test::ReadFile(LogFile()), std::string(kBom) + "2024-03-05 10:00:00 [INFO ] first of the new file\r\n");
  EXPECT_EQ(test::ReadFile(OldLogFile()), std::string(TLogger::kSizeLimit, 'b'));
}

TEST_F(LogTest, EchoedLinesEndPlainlyAndCarryTheJournalPriority) {
  struct Case {
    TLogEcho echo;
    TLogLevel level;
    const char* message;
    const char* text;
  } cases[] = {
      {TLogEcho::None, TLogLevel::Error, "e", ""},
      {TLogEcho::StandardError, TLogLevel::Info, "i", "2024-03-05 10:00:00 [INFO ] i\n"},
      {TLogEcho::Journal, TLogLevel::Error, "e", "<3>[ERROR] e\n"},
      {TLogEcho::Journal, TLogLevel::Warn, "w", "<4>[WARN ] w\n"},
      {TLogEcho::Journal, TLogLevel::Info, "i", "<6>[INFO ] i\n"},
      {TLogEcho::Journal, TLogLevel::Debug, "d", "<7>[DEBUG] d\n"},
      // Each text line becomes a journal entry of its own, at the same level.
      {TLogEcho::Journal, TLogLevel::Warn, "iki\r\nsatir", "<4>[WARN ] iki\n<4>satir\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(LogEchoText(c.echo, c.level, "2024-03-05 10:00:00", c.message), c.text) << c.message;

  // The file keeps its own form; the echo gets every line, also one the
  // file could not take.
  std::string echoed;
  TLogger logger(dir.Path() + "/logs", clock);
  logger.SetEcho(TLogEcho::Journal, [&](const std::string& text) { echoed += text; });
  logger.Write(TLogLevel::Info, "bir");
  test::WriteFile(dir.File("blocker"), "x");
  TLogger blocked(dir.File("blocker") + "/logs", clock);
  blocked.SetEcho(TLogEcho::StandardError, [&](const std::string& text) { echoed += text; });
  blocked.Write(TLogLevel::Error, "iki");
  EXPECT_EQ(echoed, "<6>[INFO ] bir\n2024-03-05 10:00:00 [ERROR] iki\n");
  EXPECT_EQ(test::ReadFile(LogFile()), std::string(kBom) + "2024-03-05 10:00:00 [INFO ] bir\r\n");
}

TEST_F(LogTest, NeverFailsTheCaller) {
  test::WriteFile(dir.File("blocker"), "x");
  InitLog(dir.File("blocker") + "/logs", clock);  // the folder cannot be made
  EXPECT_NO_THROW(LogInfo("lost"));
  FinalizeLog();

  InitLog(dir.Path() + "/logs", clock);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) LogInfoFmt("thread %d line %d", t, i);
    });
  FinalizeLog();  // while lines are being written
  for (auto& th : threads) th.join();
  LogInfo("after finalize");
  const std::string text = test::ReadFile(LogFile());
  EXPECT_EQ(text.find("after finalize"), std::string::npos);
  // Whatever made it in is made of whole lines.
  ASSERT_EQ(text.substr(0, 3), kBom);
  std::string rest = text.substr(3);
  ASSERT_TRUE(EndsWith(rest, "\r\n"));
  rest.resize(rest.size() - 2);
  for (const std::string& line : Split(ReplaceAll(rest, "\r\n", "\n"), '\n'))
    EXPECT_TRUE(StartsWith(line, "2024-03-05 10:00:00 [INFO ] thread ") || StartsWith(line, "=== ")) << line;
}

}  // namespace
}  // namespace calvora
