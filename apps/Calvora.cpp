// The control program: "--version", the command-line service operation,
// then the sign-in and main windows.
#include "desktop/DesktopProgram.h"

int main(int argc, char** argv) { return calvora::desktop::RunDesktopProgram(argc, argv); }
