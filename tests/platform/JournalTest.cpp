#include "platform/journal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace calvora::platform {
namespace {

// Sets JOURNAL_STREAM for one test and puts the previous value back.
class JournalStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* value = std::getenv("JOURNAL_STREAM")) saved_ = value;
  }
  void TearDown() override {
    if (saved_.empty())
      unsetenv("JOURNAL_STREAM");
    else
      setenv("JOURNAL_STREAM", saved_.c_str(), 1);
  }
  std::string saved_;
};

TEST_F(JournalStreamTest, OnlyTheStreamTheVariableNamesIsTheJournal) {
  struct stat st {};
  ASSERT_EQ(fstat(STDERR_FILENO, &st), 0);
  const std::string device = std::to_string(st.st_dev), inode = std::to_string(st.st_ino);
  struct Case {
    std::string value;
    bool journal;
  } cases[] = {
      {device + ":" + inode, true},
      {device + ":" + std::to_string(st.st_ino + 1), false},  // a stream inherited from a parent
      {std::to_string(st.st_dev + 1) + ":" + inode, false},
      {device + ":" + inode + "x", false},
      {device, false},
      {"", false},
  };
  for (const auto& c : cases) {
    setenv("JOURNAL_STREAM", c.value.c_str(), 1);
    EXPECT_EQ(StandardErrorIsJournal(), c.journal) << c.value;
  }
  unsetenv("JOURNAL_STREAM");
  EXPECT_FALSE(StandardErrorIsJournal());
}

}  // namespace
}  // namespace calvora::platform
