#include "platform/testing/unreadable_file.h"

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace calvora::platform::testing {
namespace {

constexpr uid_t kNobody = 65534;

bool ReadCaps(__user_cap_header_struct& header, __user_cap_data_struct (&data)[2]) {
  header.version = _LINUX_CAPABILITY_VERSION_3;
  header.pid = 0;
  return syscall(SYS_capget, &header, data) == 0;
}

}  // namespace

ScopedUnreadableFile::ScopedUnreadableFile(std::string path) : path_(std::move(path)) {
  if (geteuid() != 0) return;
  if (chown(path_.c_str(), kNobody, kNobody) != 0 || chmod(path_.c_str(), 0600) != 0) return;
  __user_cap_header_struct header{};
  __user_cap_data_struct data[2]{};
  if (!ReadCaps(header, data)) return;
  savedEffective_[0] = data[0].effective;
  savedEffective_[1] = data[1].effective;
  data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
  active_ = syscall(SYS_capset, &header, data) == 0;
}

ScopedUnreadableFile::~ScopedUnreadableFile() {
  if (active_) {
    __user_cap_header_struct header{};
    __user_cap_data_struct data[2]{};
    if (ReadCaps(header, data)) {
      data[0].effective = savedEffective_[0];
      data[1].effective = savedEffective_[1];
      syscall(SYS_capset, &header, data);
    }
  }
  if (geteuid() == 0) {
    (void)chown(path_.c_str(), getuid(), getgid());
    (void)chmod(path_.c_str(), 0644);
  }
}

bool RunningAsAdministrator() { return geteuid() == 0; }

}  // namespace calvora::platform::testing
