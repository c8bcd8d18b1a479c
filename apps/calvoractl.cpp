// The command-line control program for machines without a display.
#include "cli/CliProgram.h"

int main(int argc, char** argv) { return calvora::cli::CalvoraCtlMain(argc, argv); }
