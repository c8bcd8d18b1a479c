// The search-query and field-selection languages of the emulator.
#include "DriveQuery.h"

#include <gtest/gtest.h>

namespace calvora::devcloud {
namespace {

DriveFile Make(const std::string& name, const std::string& mime, const std::string& parent, bool trashed) {
  DriveFile f;
  f.id = "id-" + name;
  f.name = name;
  f.mimeType = mime;
  f.parents = {parent};
  f.trashed = trashed;
  return f;
}

TEST(DriveQueryTest, MatchesTheTermsClientsSend) {
  const DriveFile folder = Make("O'Brien\\x", kFolderMimeType, "P1", false);
  const DriveFile file = Make("Yedek.bak", "application/octet-stream", "root-id", false);
  const DriveFile trashed = Make("old.bak", "application/octet-stream", "P1", true);
  struct Case {
    const char* query;
    bool folder, file, trashed;
  };
  const Case cases[] = {
      {"", true, true, true},
      {"'P1' in parents", true, false, true},
      {"'root' in parents", false, true, false},
      {"'P1' in parents and trashed=false", true, false, false},
      {"name='O\\'Brien\\\\x'", true, false, false},
      {"name = 'yedek.bak'", false, false, false},
      {"name contains 'yedek'", false, true, false},
      {"mimeType='application/vnd.google-apps.folder' and trashed=false", true, false, false},
      {"mimeType != 'application/vnd.google-apps.folder'", false, true, true},
      {"not trashed = true and ('P1' in parents or name = 'Yedek.bak')", true, true, false},
      {"trashed != false", false, false, true},
  };
  for (const Case& c : cases) {
    DriveQuery query;
    std::string error;
    ASSERT_TRUE(DriveQuery::Parse(c.query, query, error)) << c.query << ": " << error;
    EXPECT_EQ(query.Matches(folder, "root-id"), c.folder) << c.query;
    EXPECT_EQ(query.Matches(file, "root-id"), c.file) << c.query;
    EXPECT_EQ(query.Matches(trashed, "root-id"), c.trashed) << c.query;
  }
}

TEST(DriveQueryTest, RefusesMalformedQueries) {
  for (const char* text : {"name='a\\b'",  // an unescaped backslash
                           "name='open", "name=open", "'P1' in owners", "size > '3'", "trashed = 'yes'",
                           "name='a' and", "(name='a'", "name ~ 'a'"}) {
    DriveQuery query;
    std::string error;
    EXPECT_FALSE(DriveQuery::Parse(text, query, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(FieldMaskTest, KeepsTheSelectedMembers) {
  const GoogleJson list = {{"kind", "drive#fileList"},
                           {"nextPageToken", "t"},
                           {"files", {{{"id", "1"}, {"name", "a"}, {"size", "3"}}, {{"id", "2"}, {"name", "b"}}}}};
  struct Case {
    const char* fields;
    GoogleJson expected;
  };
  const Case cases[] = {
      {"", list},
      {"*", list},
      {"nextPageToken", {{"nextPageToken", "t"}}},
      {"files(id)", {{"files", {{{"id", "1"}}, {{"id", "2"}}}}}},
      {"files/name,kind", {{"kind", "drive#fileList"}, {"files", {{{"name", "a"}}, {{"name", "b"}}}}}},
      {"nextPageToken, files(id, size)",
       {{"nextPageToken", "t"}, {"files", {{{"id", "1"}, {"size", "3"}}, {{"id", "2"}}}}}},
  };
  for (const Case& c : cases) {
    FieldMask mask;
    std::string error;
    ASSERT_TRUE(FieldMask::Parse(c.fields, mask, error)) << c.fields;
    EXPECT_EQ(mask.Apply(list), c.expected) << c.fields;
  }
  FieldMask mask;
  std::string error;
  EXPECT_FALSE(FieldMask::Parse("files(id", mask, error));
  EXPECT_FALSE(FieldMask::Parse("a,,b", mask, error));
}

}  // namespace
}  // namespace calvora::devcloud
