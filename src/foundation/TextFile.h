#pragma once
// Whole-file text reading and writing, and small file-system helpers.
#include <cstdint>
#include <string>
#include <string_view>

namespace calvora {

// Reads the file as UTF-8 text: a UTF-8 byte-order mark is skipped, a UTF-16
// one (LE or BE) converts the content to UTF-8. Throws EAppError when the
// file cannot be read.
std::string ReadTextFile(const std::string& path);
// Raw bytes; throws EAppError.
std::string ReadBinaryFile(const std::string& path);

// Replaces the file atomically (temporary file beside it, then rename),
// optionally starting with the UTF-8 byte-order mark. Throws EAppError.
void WriteTextFile(const std::string& path, std::string_view text, bool withBom);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates the folder with all missing parents; false when it still does not exist.
bool ForceDirectories(const std::string& path);
// -1 when the size cannot be read.
std::int64_t FileSizeOf(const std::string& path);
bool DeleteFileIfExists(const std::string& path);

// Joins folder and name with one separator.
std::string JoinPath(std::string_view folder, std::string_view name);
std::string IncludeTrailingSeparator(std::string_view folder);
std::string ExcludeTrailingSeparator(std::string_view folder);
std::string ExtractFileName(std::string_view path);
std::string ExtractFileDir(std::string_view path);
// ".bak" for "a/b.bak"; empty when there is none.
std::string ExtractFileExt(std::string_view path);
std::string ChangeFileExt(std::string_view path, std::string_view extension);

}  // namespace calvora
