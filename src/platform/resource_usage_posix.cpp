#include "platform/resource_usage.h"

#include <sys/resource.h>

#include <fstream>
#include <string>

namespace calvora::platform {

// "VmHWM" belongs to this address space alone; getrusage's ru_maxrss would
// also carry the peak of the parent that started this program.
long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  rusage usage{};
  return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : -1;
}

long PeakChildResidentKiB() {
  rusage usage{};
  return getrusage(RUSAGE_CHILDREN, &usage) == 0 ? usage.ru_maxrss : -1;
}

}  // namespace calvora::platform
