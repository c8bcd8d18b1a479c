#pragma once
// Content digests of local files, compared with the MD5 that Drive reports.
#include <string>

namespace calvora {

// MD5 of the whole file as 32 lower-case hexadecimal digits, read in large
// blocks. Raises EAppError "Dosya bulunamadı: " + path for a missing file and
// EFileError when the file cannot be opened or read.
std::string FileMD5(const std::string& FilePath);

// Opens the file and reads its first byte: EFileError when that fails (a file
// held by another program), so the caller can tell it from an upload error.
void EnsureFileReadable(const std::string& FilePath);

}  // namespace calvora
