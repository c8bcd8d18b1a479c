#pragma once
// The two small languages of Drive requests: the files.list "q" search
// query and the "fields" partial-response selection.
#include "GoogleState.h"

#include <map>
#include <memory>
#include <string>

namespace calvora::devcloud {

// A search query: terms such as "'<id>' in parents", "name = 'x'",
// "name contains 'x'", "mimeType != 'x'", "trashed = false", joined with
// "and", "or", "not" and parentheses. String literals escape "'" and "\"
// with a backslash; any other backslash sequence is invalid.
class DriveQuery {
 public:
  // False with the reason for text that is not a valid query. An empty
  // text matches everything.
  static bool Parse(const std::string& text, DriveQuery& query, std::string& error);
  bool Matches(const DriveFile& file, const std::string& rootId) const;

  struct Node;

 private:
  std::shared_ptr<const Node> root_;
};

// "nextPageToken,files(id,name)" or "files/id": members to keep in an
// answer. The empty selection keeps everything.
class FieldMask {
 public:
  static bool Parse(const std::string& text, FieldMask& mask, std::string& error);
  GoogleJson Apply(const GoogleJson& value) const;
  bool Empty() const { return members_.empty(); }

 private:
  std::map<std::string, FieldMask> members_;
};

}  // namespace calvora::devcloud
