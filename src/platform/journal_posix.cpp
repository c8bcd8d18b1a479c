#include "platform/journal.h"

#include "platform/paths.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace calvora::platform {

bool StandardErrorIsJournal() {
  const auto value = GetEnv("JOURNAL_STREAM");
  if (!value || value->empty()) return false;
  // An inherited variable outlives the stream it named: only the very
  // stream counts (a shell redirection in between does not).
  std::uintmax_t device = 0, inode = 0;
  char rest = 0;
  if (std::sscanf(value->c_str(), "%" SCNuMAX ":%" SCNuMAX "%c", &device, &inode, &rest) != 2) return false;
  struct stat st {};
  if (fstat(STDERR_FILENO, &st) != 0) return false;
  return static_cast<std::uintmax_t>(st.st_dev) == device && static_cast<std::uintmax_t>(st.st_ino) == inode;
}

void WriteStandardError(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(STDERR_FILENO, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace calvora::platform
