// calvora-unit-file <service program path> <output file>
//
// Writes the systemd unit of the packaged service: the text the service
// control writes when it registers the service, for the program where the
// package installs it, so the two can never differ.
#include "foundation/TextFile.h"
#include "service/uServiceManager.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: calvora-unit-file <service program path> <output file>\n");
    return 2;
  }
  try {
    calvora::WriteTextFile(argv[2], calvora::BuildServiceUnitText(argv[1], calvora::kBackupServiceDisplayName),
                           false);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "calvora-unit-file: %s\n", e.what());
    return 1;
  }
  return 0;
}
