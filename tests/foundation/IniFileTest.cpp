#include "foundation/IniFile.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

struct ReadCase {
  const char* name;
  std::string text;
  const char* section;
  const char* key;
  std::string want;
};

TEST(IniReader, LineRules) {
  const ReadCase cases[] = {
      {"plain", "[Google]\r\nClientID=abc\r\n", "Google", "ClientID", "abc"},
      {"lower-case header and key", "[google]\nclientid=abc\n", "Google", "ClientID", "abc"},
      {"blank before =", "[Google]\r\nClientID =abc\r\n", "Google", "ClientID", ""},
      {"blank before key", "[Google]\r\n ClientID=abc\r\n", "Google", "ClientID", ""},
      {"blank after = belongs to value", "[Google]\r\nClientID= abc \r\n", "Google", "ClientID", " abc "},
      {"other section", "[Other]\r\nClientID=abc\r\n", "Google", "ClientID", ""},
      {"header not trimmed inside brackets", "[ Google ]\r\nClientID=abc\r\n", "Google", "ClientID", ""},
      {"header with blanks around brackets", "  [Google]\t\r\nClientID=abc\r\n", "Google", "ClientID", "abc"},
      {"key leaves section at next header", "[Google]\r\n[X]\r\nClientID=abc\r\n", "Google", "ClientID", ""},
      {"first match wins", "[Google]\r\nA=1\r\n[Google]\r\nA=2\r\n", "Google", "A", "1"},
      {"byte-order mark skipped", "\xEF\xBB\xBF[Google]\r\nA=1\r\n", "Google", "A", "1"},
      {"comment below key continues it", "[S]\r\nA=x\r\n; note\r\n", "S", "A", "x; note"},
      {"continuation joined trimmed", "[S]\r\nA=dpapi:AAAA\r\n   BBBB\r\n\tCC==\r\n", "S", "A", "dpapi:AAAABBBB"},
      {"line with = ends value", "[S]\r\nA=dpapi:AAAA\r\n  CC==\r\n", "S", "A", "dpapi:AAAA"},
      {"blank line ends value", "[S]\r\nA=x\r\n\r\ny\r\n", "S", "A", "x"},
      {"header ends value", "[S]\r\nA=x\r\n[T]\r\n", "S", "A", "x"},
      {"empty value", "[S]\r\nA=\r\nB=2\r\n", "S", "A", ""},
      {"lone CR line breaks", "[S]\rA=1\rB=2", "S", "B", "2"},
      {"comment lines are ignored", "[S]\r\n;A=1\r\n#x\r\nA=2\r\n", "S", "A", "2"},
      {"missing key", "[S]\r\nB=2\r\n", "S", "A", ""},
      {"empty text", "", "S", "A", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadIniRawValue(c.text, c.section, c.key), c.want) << c.name;
}

TEST(IniWriter, ReplacesAddsAndCreatesKeepingOtherLines) {
  std::string text;
  text = SetIniValue(text, "Google", "ClientID", "a");
  EXPECT_EQ(text, "[Google]\r\nClientID=a\r\n");
  text = SetIniValue(text, "MSSQLBackup", "Server", "s");
  text = SetIniValue(text, "Google", "AuthPort", "8080");
  text = SetIniValue(text, "google", "clientid", "b");
  EXPECT_EQ(text, "[Google]\r\nclientid=b\r\nAuthPort=8080\r\n[MSSQLBackup]\r\nServer=s\r\n");

  const std::string withComments = "; top\r\n[S]\r\n# c\r\nA=1\r\n\r\n[T]\r\nX=y\r\n";
  EXPECT_EQ(SetIniValue(withComments, "S", "B", "2"), "; top\r\n[S]\r\n# c\r\nA=1\r\nB=2\r\n\r\n[T]\r\nX=y\r\n");
  EXPECT_EQ(SetIniValue(withComments, "S", "A", ""), "; top\r\n[S]\r\n# c\r\nA=\r\n\r\n[T]\r\nX=y\r\n");
}

// Whatever the writer writes, the reader must find unchanged.
TEST(IniWriter, ReaderFindsEveryValueWritten) {
  const std::string files[] = {
      "",
      "[S]\r\nA=dpapi:AAAA\r\nBBBB\r\nCCCC\r\nB=1\r\n",  // wrapped old value
      "[S]\r\nA=x\r\n; comment\r\n",                     // comment glued to the value
      "[ S ]\r\nA=old\r\n",                               // a header the reader does not take
      "[S]\r\nA =spaced\r\n",                             // a key line the reader does not take
      "[S]\r\n[S]\r\nA=second\r\n",
      "\xEF\xBB\xBF[S]\r\nB=1",
  };
  for (const auto& file : files) {
    for (const std::string value : {"dpapi:NEW==", "", "v"}) {
      std::string text = SetIniValue(file, "S", "A", value);
      EXPECT_EQ(ReadIniRawValue(text, "S", "A"), value) << file;
    }
  }
  EXPECT_EQ(ReadIniRawValue(SetIniValue("", "S", "A", "x\r\ny"), "S", "A"), "xy");
}

}  // namespace
}  // namespace calvora
