#pragma once
// Reading Drive's answers, shared by the Drive client's source files.
#include "foundation/Format.h"
#include "foundation/JsonText.h"
#include "foundation/TextUtil.h"
#include "google/uGoogleDrive.h"

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace calvora::drive_detail {

// A byte count from the server; 0 when absent, not a number or negative.
inline std::int64_t DecimalMember(const TJson& object, std::string_view key) {
  long long value = 0;
  return TryParseInt64(JsonMemberText(object, key), value) && value > 0 ? value : 0;
}

inline bool ParseObject(const std::string& body, TJson& object) {
  return TryParseJson(body, object) && object.is_object();
}

// Follows nextPageToken: a token met before, or more pages than any real
// folder has, ends the listing as failed (a server that never ends it
// would otherwise be asked forever, or cut short and taken for complete).
class TPageGuard {
 public:
  bool Follow(const std::string& NextToken, std::string& Error) {
    if (++FPages >= TGoogleDrive::kMaxListPages) {
      Error = Fmt("Drive listesi %d sayfada bitmedi; liste tamamlanamadi.", FPages);
      return false;
    }
    if (!FSeen.insert(NextToken).second) {
      Error = "Drive listesi ayni sayfa belirtecini tekrarladi; liste tamamlanamadi.";
      return false;
    }
    return true;
  }

 private:
  int FPages = 0;
  std::set<std::string> FSeen;
};

// The upload answers carry only id, name, size and md5Checksum.
inline TDriveFileInfo UploadResultFromJson(const TJson& item) {
  TDriveFileInfo info;
  info.FileID = JsonMemberText(item, "id");
  info.Name = JsonMemberText(item, "name");
  info.Size = DecimalMember(item, "size");
  info.MD5 = JsonMemberText(item, "md5Checksum");
  return info;
}

}  // namespace calvora::drive_detail
