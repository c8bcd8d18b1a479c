#include "foundation/DateTime.h"
#include "foundation/Format.h"
#include "foundation/JsonText.h"
#include "foundation/TextUtil.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

TEST(DateTime, FormatsAndParsesTheFixedPattern) {
  TDateTime t = EncodeDateTime(2024, 3, 5, 2, 0, 7);
  EXPECT_EQ(FormatDateTime(t), "2024-03-05 02:00:07");
  TDateTime back = 0;
  ASSERT_TRUE(TryParseDateTime("2024-03-05 02:00:07", back));
  EXPECT_EQ(MillisecondsBetween(t, back), 0);
}

}  // namespace
}  // namespace calvora
