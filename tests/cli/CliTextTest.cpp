// The pieces of the command line that are pure text: the progress line,
// the field option names and the argument rules.
#include "cli/CliArgs.h"
#include "cli/CliPlanFields.h"
#include "cli/CliProgress.h"

#include <gtest/gtest.h>

namespace calvora::cli {
namespace {

TEST(CliProgressLine, ShowsStageBytesRateAndTimeLeftWithinTheWidth) {
  TProgressState state;
  state.Stage = "Upload";
  state.Done = 8 << 20;
  state.Total = 20 << 20;
  state.BytesPerSecond = 2 << 20;
  const std::string line = RenderProgressLine(state, 100);
  EXPECT_EQ(line.rfind("Upload [", 0), 0u) << line;
  EXPECT_NE(line.find("] 40%  8.0 MB / 20.0 MB  2.0 MB/s  kalan 0:06"), std::string::npos) << line;
  EXPECT_LE(line.size(), 99u);

  // A narrow terminal cuts the line; no transfer shows the time so far.
  EXPECT_LE(RenderProgressLine(state, 40).size(), 39u);
  TProgressState idle;
  idle.Stage = "SQL Backup";
  idle.ElapsedMs = 75000;
  EXPECT_EQ(RenderProgressLine(idle, 100), "SQL Backup  1:15");
}

TEST(CliProgressLine, RateFollowsTheCurrentTransfer) {
  TRateMeter meter;
  meter.Sample(1000, 0, 100);
  EXPECT_EQ(meter.BytesPerSecond(), 0);
  meter.Sample(1500, 50, 100);
  EXPECT_DOUBLE_EQ(meter.BytesPerSecond(), 100);
  // Another file: measured afresh.
  meter.Sample(1600, 10, 400);
  EXPECT_EQ(meter.BytesPerSecond(), 0);
  EXPECT_EQ(DurationText(3725), "1:02:05");
}

TEST(CliPlanFields, OptionNamesFollowThePlanFileMembers) {
  const std::pair<const char*, const char*> cases[] = {
      {"RarSplitVolumeMB", "rar-split-volume-mb"},
      {"DriveSubFolder", "drive-sub-folder"},
      {"IntervalMinutes", "interval-minutes"},
      {"UseRarEncryption", "use-rar-encryption"},
  };
  for (const auto& [field, option] : cases) {
    EXPECT_EQ(FieldOptionName(field), option);
    ASSERT_NE(FindPlanField(option), nullptr) << option;
    EXPECT_STREQ(FindPlanField(option)->Name, field);
  }
  EXPECT_EQ(FindPlanField("lastrunat"), nullptr);  // run fields are not set by hand
}

TEST(CliArgs, OptionsValuesAndMistakes) {
  const std::vector<TOptionSpec> spec = {{"to", TOptionKind::Value},
                                         {"all", TOptionKind::Flag},
                                         {"enabled", TOptionKind::Switch},
                                         {"set", TOptionKind::Value, true}};
  const TCliArgs args =
      TCliArgs::Parse({"plan", "--to", "/x", "--enabled=false", "--set", "A=1", "--set=B=2", "--", "--all"}, spec);
  EXPECT_EQ(args.Positional(), (std::vector<std::string>{"plan", "--all"}));
  EXPECT_EQ(args.Value("to"), "/x");
  EXPECT_EQ(args.Value("enabled"), "false");
  EXPECT_EQ(args.Values("set"), (std::vector<std::string>{"A=1", "B=2"}));
  EXPECT_FALSE(args.Has("all"));

  const std::vector<std::vector<std::string>> wrong = {
      {"--nope"}, {"--to"}, {"--all=yes"}, {"--to", "a", "--to", "b"}, {"-x"}};
  for (const auto& words : wrong) EXPECT_THROW(TCliArgs::Parse(words, spec), EUsageError) << words[0];
}

}  // namespace
}  // namespace calvora::cli
