#include "engine/WorkFolderFiles.h"

#include "foundation/AppError.h"
#include "platform/file_io.h"
#include "platform/wildcard.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace calvora {

std::vector<std::string> FilesMatching(const std::string& folder, const std::string& mask) {
  std::vector<std::string> result;
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    std::string name = it->path().filename().string();
    if (platform::WildcardMatch(name, mask, true)) result.push_back(it->path().string());
  }
  std::sort(result.begin(), result.end());
  return result;
}

std::string LiteralMask(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '[' || c == '*' || c == '?') {
      out += '[';
      out += c;
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

bool FileModifiedLocal(const std::string& path, TDateTime& modified) {
  double seconds = 0;
  if (!platform::FileModifiedUnix(path, seconds)) return false;
  modified = UnixToLocalDateTime(seconds);
  return true;
}

void RenameFileReplacing(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::rename(from, to, ec);
  if (ec) throw EFileError("Dosya yeniden adlandirilamadi: " + from + " -> " + to + " (" + ec.message() + ")");
}

void DeleteFileOrThrow(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  if (ec) throw EFileError("Dosya silinemedi: " + path + " (" + ec.message() + ")");
}

}  // namespace calvora
