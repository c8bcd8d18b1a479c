#include "foundation/AppError.h"
#include "foundation/Crypto.h"
#include "foundation/DateTime.h"
#include "foundation/Format.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

TEST(DateTime, FixedPatternRoundTripsAndRejectsImpossibleMoments) {
  TDateTime t = EncodeDateTime(2024, 3, 5, 2, 0, 7);
  EXPECT_EQ(FormatDateTime(t), "2024-03-05 02:00:07");
  TDateTime back = 0;
  ASSERT_TRUE(TryParseDateTime(" 2024-03-05 02:00:07 ", back));
  EXPECT_EQ(MillisecondsBetween(t, back), 0);

  for (const char* bad : {"2024-02-30 00:00:00", "2024-03-05 24:00:00", "2024-03-05 02:00", "24-03-05 02:00:00",
                          "2024/03/05 02:00:00", "2024-03-05T02:00:07", "2024-03-05 02:00:07x", ""}) {
    TDateTime v = 0;
    EXPECT_FALSE(TryParseDateTime(bad, v)) << bad;
  }
  TDateTime noSeconds = 0;
  ASSERT_TRUE(TryParseRegionalDateTime("2024-03-05 02:00", noSeconds));
  EXPECT_EQ(FormatDateTime(noSeconds), "2024-03-05 02:00:00");
}

TEST(DateTime, MinutesAreWholeAndOrderFree) {
  TDateTime a = EncodeDateTime(2024, 3, 5, 10, 0, 0);
  EXPECT_EQ(MinutesBetween(a, IncSeconds(a, 59 * 60 + 59)), 59);
  EXPECT_EQ(MinutesBetween(IncSeconds(a, 60 * 60), a), 60);
  EXPECT_EQ(MinutesBetween(a, IncDays(a, -1)), 1440);
}

TEST(DateTime, DayCountStartsAt18991230) {
  EXPECT_EQ(EncodeDateTime(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDateTime(1970, 1, 1), 25569.0);
  EXPECT_EQ(EncodeDateTime(2024, 3, 5, 12), 45356.5);
  EXPECT_EQ(FormatDateTime(45356.5), "2024-03-05 12:00:00");
  // Unix time 0 is 1970-01-01 00:00 UTC, whatever the local zone.
  EXPECT_EQ(MillisecondsBetween(UtcToLocal(25569.0), UnixToLocalDateTime(0)), 0);
  TDateTime local = 0;
  ASSERT_TRUE(TryParseRfc3339("1970-01-01T00:00:00Z", local));
  EXPECT_EQ(MillisecondsBetween(local, UnixToLocalDateTime(0)), 0);
}

TEST(DateTime, WeekdaysAndCalendarArithmetic) {
  EXPECT_EQ(DayOfWeek(EncodeDateTime(2024, 3, 3)), 1);            // Sunday
  EXPECT_EQ(DayOfWeek(EncodeDateTime(2024, 3, 4, 23, 59, 59)), 2);  // Monday
  EXPECT_EQ(DayOfWeek(EncodeDateTime(2024, 3, 9)), 7);            // Saturday
  EXPECT_EQ(FormatDateTime(IncDays(EncodeDateTime(2024, 2, 28, 12), 1)), "2024-02-29 12:00:00");
  EXPECT_EQ(FormatDateTime(IncSeconds(EncodeDateTime(2023, 12, 31, 23, 59, 59), 1)), "2024-01-01 00:00:00");
  EXPECT_EQ(FormatDateTime(DateOf(EncodeDateTime(2024, 3, 5, 23, 59, 59, 999))), "2024-03-05 00:00:00");
  TDateTime time = 0;
  ASSERT_TRUE(TryParseRegionalTime("2:05", time));
  EXPECT_EQ(MillisecondsBetween(time, EncodeDateTime(1899, 12, 30, 2, 5)), 0);
  EXPECT_FALSE(TryParseRegionalTime("25:00", time));
}

TEST(DateTime, Rfc3339ConvertsUtcToTheLocalClock) {
  TDateTime local = 0;
  ASSERT_TRUE(TryParseRfc3339("2024-03-05T01:02:03.456Z", local));
  TDateTime viaUnix = UnixToLocalDateTime(LocalDateTimeToUnix(local));
  EXPECT_EQ(MillisecondsBetween(local, viaUnix), 0);
  TDateTime shifted = 0;
  ASSERT_TRUE(TryParseRfc3339("2024-03-05T03:02:03.456+02:00", shifted));
  EXPECT_EQ(MillisecondsBetween(local, shifted), 0);
  EXPECT_FALSE(TryParseRfc3339("2024-03-05T01:02:03", local));
}

TEST(Format, DirectivesOfTheSystemsPatterns) {
  struct Case {
    std::string got, want;
  } cases[] = {
      {Fmt("%s [%s] %s", "a", "INFO ", "b"), "a [INFO ] b"},
      {Fmt("%d dosya, %.1f MB", 3, 12.34), "3 dosya, 12.3 MB"},
      {Fmt("%d%%", 50), "50%"},
      {Fmt("%5d|%-5s|%05d", 42, "ab", -42), "   42|ab   |-0042"},
      {Fmt("%ld %lld %zu", 1L, 2LL, size_t{3}), "1 2 3"},
      {Fmt("%d", 1e30), "1e+30"},  // a double too large for a whole number
      {Fmt("%s %s", "only"), "only %s"},
      {Fmt("%.0f", 1e40).substr(0, 5), "10000"},
      {Fmt("%x", 255), "ff"},
      {Fmt("%.2d:%.2d:%.2d", 5, 123, -7), "05:123:-07"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
  EXPECT_EQ(Fmt("%.0f", 1e40).size(), 41u);  // no fixed buffer cuts it short
}

TEST(TextUtil, CaseFoldingCoversTurkishLetters) {
  EXPECT_TRUE(SameText("İSTANBUL", "istanbul"));
  EXPECT_TRUE(SameText("ÇĞÖŞÜ", "çğöşü"));
  EXPECT_TRUE(SameText("ılık", "ILIK"));
  EXPECT_FALSE(SameText("abc", "abd"));
  EXPECT_TRUE(StartsText("Backup_FULL.bak", "backup_"));
  EXPECT_FALSE(StartsText("ba", "backup"));
  EXPECT_TRUE(EndsText("x.RAR", ".rar"));
}

TEST(TextUtil, IntegersAreStrict) {
  struct Case {
    const char* text;
    bool ok;
    int value;
  } cases[] = {{"42", true, 42},       {" -7 ", true, -7},  {"+5", true, 5},    {"+-5", false, 0},
               {"5x", false, 0},       {"", false, 0},      {"-", false, 0},    {"2147483648", false, 0},
               {"-2147483648", true, INT32_MIN}, {"1.0", false, 0}, {"0x10", false, 0}};
  for (const auto& c : cases) {
    int v = 0;
    EXPECT_EQ(TryParseInt(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(TextUtil, SplitTrimAndUtf8Repair) {
  EXPECT_EQ(Split("a,,b", ','), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(Trim("\t x \r\n"), "x");
  EXPECT_EQ(ReplaceAll("a;b;c", ";", ", "), "a, b, c");
  EXPECT_FALSE(IsValidUtf8("a\xC3"));
  EXPECT_EQ(SanitizeUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(SanitizeUtf8("\xC3\xA7"), "\xC3\xA7");
}

TEST(JsonText, WritesCompactAsciiWithEscapes) {
  TJson o = TJson::object();
  o["b"] = "Başarılı\n";
  o["a"] = 1;
  o["e"] = "\xF0\x9F\x98\x80";  // above U+FFFF: a surrogate pair
  o["bad"] = "x\xFFy";          // invalid UTF-8 still makes valid JSON
  o["t"] = true;
  const std::string text = JsonToText(o);
  EXPECT_EQ(text,
            R"({"b":"Ba\u015far\u0131l\u0131\u000a","a":1,"e":"\ud83d\ude00","bad":"x\ufffdy","t":true})");
  TJson back;
  ASSERT_TRUE(TryParseJson(text, back));
  EXPECT_EQ(back["b"], "Başarılı\n");
  EXPECT_EQ(back["e"], "\xF0\x9F\x98\x80");
}

TEST(JsonText, ReadingNeverThrowsAndGivesTextValues) {
  TJson v;
  EXPECT_FALSE(TryParseJson("{", v));
  EXPECT_TRUE(v.is_null());
  EXPECT_FALSE(TryParseJson("\"a\xFF\"", v));
  EXPECT_FALSE(TryParseJson(std::string(100000, '['), v));
  ASSERT_TRUE(TryParseJson(std::string(100, '[') + std::string(100, ']'), v));

  ASSERT_TRUE(TryParseJson(R"({"s":"x","t":true,"n":12,"f":1.5,"z":null,"a":[1,"b"]})", v));
  EXPECT_EQ(JsonMemberText(v, "s"), "x");
  EXPECT_EQ(JsonMemberText(v, "t"), "true");
  EXPECT_EQ(JsonMemberText(v, "n"), "12");
  EXPECT_EQ(JsonMemberText(v, "f"), "1.5");
  EXPECT_EQ(JsonMemberText(v, "z"), "");
  EXPECT_EQ(JsonMemberText(v, "missing"), "");
  EXPECT_EQ(JsonMemberText(v, "a"), "[1,\"b\"]");
  EXPECT_EQ(JsonMemberText(TJson::array(), "s"), "");
  EXPECT_TRUE(JsonMemberBool(TJson{{"b", "TRUE"}}, "b"));
  EXPECT_FALSE(JsonMemberBool(TJson{{"b", 1}}, "b"));
}

TEST(Crypto, Base64IsStrictAndDigestsMatchKnownValues) {
  EXPECT_EQ(Base64Encode("Man"), "TWFu");
  EXPECT_EQ(Base64Encode("Ma"), "TWE=");
  EXPECT_EQ(Base64UrlEncode("\xFB\xFF"), "-_8");
  std::string out;
  EXPECT_TRUE(Base64Decode("TWE=", out));
  EXPECT_EQ(out, "Ma");
  EXPECT_TRUE(Base64Decode("", out));
  EXPECT_TRUE(out.empty());
  for (const char* bad : {"TWE", "TW=E", "====", "TWE*", "T===", "TWE=TWE="}) EXPECT_FALSE(Base64Decode(bad, out)) << bad;
  EXPECT_EQ(HexLower(Sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  TMd5 md5;
  md5.Update("ab", 2);
  md5.Update("c", 1);
  EXPECT_EQ(md5.FinalHex(), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(TextFile, ReadsUtf8AndUtf16AndWritesAtomically) {
  test::TTempDir dir;
  test::WriteFile(dir.File("bom.txt"), "\xEF\xBB\xBF" "abc");
  test::WriteFile(dir.File("le.txt"), std::string("\xFF\xFE" "a\0\xE7\0", 6));
  test::WriteFile(dir.File("be.txt"), std::string("\xFE\xFF\0a\xD8\x3D\xDE\x00", 8));
  EXPECT_EQ(ReadTextFile(dir.File("bom.txt")), "abc");
  EXPECT_EQ(ReadTextFile(dir.File("le.txt")), "a\xC3\xA7");
  EXPECT_EQ(ReadTextFile(dir.File("be.txt")), "a\xF0\x9F\x98\x80");
  EXPECT_THROW(ReadTextFile(dir.File("missing.txt")), EAppError);

  WriteTextFile(dir.File("out.txt"), "x", true);
  EXPECT_EQ(test::ReadFile(dir.File("out.txt")), "\xEF\xBB\xBFx");
  EXPECT_THROW(WriteTextFile(dir.File("no/such/dir/out.txt"), "x", false), EAppError);

  EXPECT_EQ(ExtractFileName("/a/b.bak"), "b.bak");
  EXPECT_EQ(ExtractFileExt("/a.d/b"), "");
  EXPECT_EQ(ChangeFileExt("/a.d/b.fdb", ""), "/a.d/b");
  EXPECT_EQ(ExcludeTrailingSeparator("/a/b//"), "/a/b");
  EXPECT_EQ(JoinPath("/a/", "/b"), "/a/b");
}

}  // namespace
}  // namespace calvora
