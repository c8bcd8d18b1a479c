#include "foundation/TextFile.h"

#include "foundation/AppError.h"
#include "foundation/TextUtil.h"
#include "platform/file_io.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace calvora {
namespace fs = std::filesystem;
namespace {

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  auto unit = [&](size_t i) -> char32_t {
    unsigned char a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
      char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? 0xFFFD : u);
  }
  return out;
}

}  // namespace

std::string ReadBinaryFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EFileError("Dosya acilamadi: " + path);
  // Read in blocks: the file may grow or shrink while it is read.
  std::string data;
  char block[64 * 1024];
  while (in.read(block, sizeof block) || in.gcount() > 0) data.append(block, static_cast<size_t>(in.gcount()));
  if (in.bad()) throw EFileError("Dosya okunamadi: " + path);
  return data;
}

std::string ReadTextFile(const std::string& path) {
  std::string data = ReadBinaryFile(path);
  if (data.size() >= 3 && data.compare(0, 3, "\xEF\xBB\xBF") == 0) return data.substr(3);
  if (data.size() >= 2 && data.compare(0, 2, "\xFF\xFE") == 0)
    return Utf16ToUtf8(std::string_view(data).substr(2), false);
  if (data.size() >= 2 && data.compare(0, 2, "\xFE\xFF") == 0)
    return Utf16ToUtf8(std::string_view(data).substr(2), true);
  return data;
}

void WriteTextFile(const std::string& path, std::string_view text, bool withBom) {
  std::string data;
  data.reserve(text.size() + 3);
  if (withBom) data = "\xEF\xBB\xBF";
  data.append(text);
  try {
    platform::ReplaceFileAtomically(path, data);
  } catch (const std::system_error& e) {
    throw EFileError(std::string(e.what()));
  }
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(path, ec);
}

bool DirectoryExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  fs::create_directories(path, ec);
  return DirectoryExists(path);
}

std::int64_t FileSizeOf(const std::string& path) {
  std::error_code ec;
  auto size = fs::file_size(path, ec);
  return ec ? -1 : static_cast<std::int64_t>(size);
}

bool DeleteFileIfExists(const std::string& path) {
  std::error_code ec;
  return fs::remove(path, ec);
}

std::string IncludeTrailingSeparator(std::string_view folder) {
  std::string out(folder);
  if (out.empty() || out.back() != '/') out += '/';
  return out;
}

std::string ExcludeTrailingSeparator(std::string_view folder) {
  std::string out(folder);
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  return IncludeTrailingSeparator(folder) + std::string(name);
}

std::string ExtractFileName(std::string_view path) {
  size_t slash = path.find_last_of('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExtractFileDir(std::string_view path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos) return std::string();
  return std::string(slash == 0 ? path.substr(0, 1) : path.substr(0, slash));
}

std::string ExtractFileExt(std::string_view path) {
  std::string name = ExtractFileName(path);
  size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string ChangeFileExt(std::string_view path, std::string_view extension) {
  std::string name = ExtractFileName(path);
  size_t dot = name.find_last_of('.');
  std::string base(path.substr(0, path.size() - (dot == std::string::npos ? 0 : name.size() - dot)));
  return base + std::string(extension);
}

}  // namespace calvora
