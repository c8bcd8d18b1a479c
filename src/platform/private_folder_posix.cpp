#include "platform/private_folder.h"

#include "platform/paths.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace calvora::platform {
namespace {

std::string OwnerFault(const struct stat& st) {
  if (st.st_uid != geteuid()) return "baska bir kullaniciya ait";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "baska kullanicilar yazabiliyor";
  return std::string();
}

std::string FolderFault(const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return "sembolik baglanti";
  if (!S_ISDIR(st.st_mode)) return "klasor degil";
  return OwnerFault(st);
}

// Opens the folder itself (never a link's target), checks it and removes
// every group and other permission.
bool TakeFolder(const std::string& path, std::string& error) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    struct stat st {};
    error = lstat(path.c_str(), &st) == 0 ? FolderFault(st) : LastSystemErrorText();
    if (error.empty()) error = LastSystemErrorText();
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    error = LastSystemErrorText();
  } else {
    error = FolderFault(st);
    if (error.empty() && (st.st_mode & 07777) != 0700 && fchmod(fd, 0700) != 0) error = LastSystemErrorText();
  }
  close(fd);
  return error.empty();
}

}  // namespace

std::string PrivateFolderFault(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return LastSystemErrorText();
  return FolderFault(st);
}

bool EnsurePrivateFolder(const std::string& path, std::string& error) {
  error.clear();
  if (path.empty()) {
    error = "klasor adi bos";
    return false;
  }
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = LastSystemErrorText();
    return false;
  }
  return TakeFolder(path, error);
}

std::string MakeUniquePrivateFolder(const std::string& prefix, std::string& error) {
  std::vector<char> name(prefix.begin(), prefix.end());
  name.insert(name.end(), {'X', 'X', 'X', 'X', 'X', 'X', '\0'});
  if (mkdtemp(name.data()) == nullptr) {
    error = LastSystemErrorText();
    return std::string();
  }
  const std::string path = name.data();
  if (!TakeFolder(path, error)) return std::string();
  return path;
}

void CreatePrivateFile(const std::string& path, std::string_view data) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "Dosya olusturulamadi: " + path);
  (void)fchmod(fd, 0600);
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int saved = errno;
      close(fd);
      unlink(path.c_str());
      throw std::system_error(saved, std::generic_category(), "Dosya yazilamadi: " + path);
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  close(fd);
}

std::string PrivateFileFault(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return LastSystemErrorText();
  if (S_ISLNK(st.st_mode)) return "sembolik baglanti";
  if (!S_ISREG(st.st_mode)) return "dosya degil";
  return OwnerFault(st);
}

}  // namespace calvora::platform
