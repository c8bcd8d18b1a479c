#include "platform/file_io.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <filesystem>
#include <random>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace calvora::platform {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void SyncParentFolder(const std::string& path) {
  auto parent = std::filesystem::path(path).parent_path();
  int dfd = open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    (void)fsync(dfd);
    close(dfd);
  }
}

void ReplaceWithMode(const std::string& path, std::string_view data, unsigned mode, bool forceMode) {
  struct stat existing {};
  if (!forceMode && stat(path.c_str(), &existing) == 0) mode = existing.st_mode & 07777;
  const std::string temp = TempNameBeside(path);
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) ThrowErrno("Dosya yazilamadi: " + path);
  (void)fchmod(fd, mode);
  if (!WriteAll(fd, data) || fsync(fd) != 0) {
    int saved = errno;
    close(fd);
    unlink(temp.c_str());
    errno = saved;
    ThrowErrno("Dosya yazilamadi: " + path);
  }
  close(fd);
  if (rename(temp.c_str(), path.c_str()) != 0) {
    int saved = errno;
    unlink(temp.c_str());
    errno = saved;
    ThrowErrno("Dosya yazilamadi: " + path);
  }
  SyncParentFolder(path);
}

// The writer's process id in a name TempNameBeside made; 0 for other names.
pid_t WriterOfTempName(const std::string& name) {
  const size_t mark = name.rfind(".tmp-");
  if (mark == std::string::npos || mark == 0) return 0;
  const std::string rest = name.substr(mark + 5);
  const size_t dash = rest.find('-');
  if (dash == std::string::npos || dash == 0 || dash + 1 == rest.size() || dash > 9) return 0;
  for (size_t i = 0; i < rest.size(); ++i)
    if (i != dash && (rest[i] < '0' || rest[i] > '9')) return 0;
  return static_cast<pid_t>(std::stol(rest.substr(0, dash)));
}

bool ProcessIsGone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

}  // namespace

std::string TempNameBeside(const std::string& path) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  return path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(rng() % 1000000000ULL);
}

int RemoveStaleTempFiles(const std::string& folder) {
  int removed = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const pid_t writer = WriterOfTempName(name);
    if (writer <= 0 || writer == getpid() || !ProcessIsGone(writer)) continue;
    std::error_code typeError;
    if (!it->is_regular_file(typeError) || it->is_symlink(typeError)) continue;
    if (unlink(it->path().c_str()) == 0) ++removed;
  }
  return removed;
}

void ReplaceFileAtomically(const std::string& path, std::string_view data, unsigned mode) {
  ReplaceWithMode(path, data, mode, false);
}

void WritePrivateFile(const std::string& path, std::string_view data) {
  ReplaceWithMode(path, data, 0600, true);
}

void WriteSharedProtectedFile(const std::string& path, std::string_view data) {
  ReplaceWithMode(path, data, 0660, true);
}

bool CreateSharedDirectory(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  const bool existed = std::filesystem::is_directory(path, ec);
  if (!existed) {
    std::filesystem::create_directories(path, ec);
    if (std::filesystem::is_directory(path, ec)) {
      if (const group* gr = getgrnam("calvora")) (void)chown(path.c_str(), static_cast<uid_t>(-1), gr->gr_gid);
      (void)chmod(path.c_str(), 02775);
    }
  }
  return std::filesystem::is_directory(path, ec);
}

bool AppendExclusive(const std::string& path, std::string_view data, std::string_view prefixIfNew) {
  bool created = false;
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0664);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  }
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  bool ok = (!created || WriteAll(fd, prefixIfNew)) && WriteAll(fd, data);
  close(fd);  // also releases the lock
  return ok;
}

bool CreateNewFile(const std::string& path, std::string_view data, unsigned mode) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, data) && fsync(fd) == 0;
  if (close(fd) != 0 || !ok) {
    unlink(path.c_str());
    return false;
  }
  return true;
}

bool FileModifiedUnix(const std::string& path, double& seconds) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  seconds = static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
  return true;
}

bool SetFileModifiedUnix(const std::string& path, double seconds) {
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = static_cast<long>((seconds - static_cast<double>(times[1].tv_sec)) * 1e9);
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

}  // namespace calvora::platform
