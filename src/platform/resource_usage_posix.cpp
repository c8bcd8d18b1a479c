#include "platform/resource_usage.h"

#include <sys/resource.h>

namespace calvora::platform {

long PeakResidentKiB() {
  rusage usage{};
  return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : -1;
}

long PeakChildResidentKiB() {
  rusage usage{};
  return getrusage(RUSAGE_CHILDREN, &usage) == 0 ? usage.ru_maxrss : -1;
}

}  // namespace calvora::platform
