#include "engine/uFileHasher.h"

#include "foundation/AppError.h"
#include "foundation/Crypto.h"
#include "foundation/TextFile.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

namespace calvora {
namespace {

// Large blocks keep the system calls few; hashing then runs at the speed of
// the digest itself.
constexpr size_t kBlockSize = 1 << 20;

struct TFileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

TFilePtr OpenForReading(const std::string& FilePath) {
  TFilePtr file(std::fopen(FilePath.c_str(), "rb"));
  if (!file) throw EFileError("Dosya acilamadi: " + FilePath + " (" + platform::LastSystemErrorText() + ")");
  return file;
}

}  // namespace

std::string FileMD5(const std::string& FilePath) {
  if (!FileExists(FilePath)) throw EAppError("Dosya bulunamadı: " + FilePath);
  TFilePtr file = OpenForReading(FilePath);
  // The blocks go straight into our buffer, not through the stream's own.
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  std::vector<char> block(kBlockSize);
  TMd5 md5;
  for (;;) {
    const size_t got = std::fread(block.data(), 1, block.size(), file.get());
    if (got > 0) md5.Update(block.data(), got);
    if (got < block.size()) {
      if (std::ferror(file.get()))
        throw EFileError("Dosya okunamadi: " + FilePath + " (" + platform::LastSystemErrorText() + ")");
      break;
    }
  }
  return md5.FinalHex();
}

void EnsureFileReadable(const std::string& FilePath) {
  TFilePtr file = OpenForReading(FilePath);
  char first = 0;
  if (std::fread(&first, 1, 1, file.get()) == 0 && std::ferror(file.get()))
    throw EFileError("Dosya okunamadi: " + FilePath + " (" + platform::LastSystemErrorText() + ")");
}

}  // namespace calvora
