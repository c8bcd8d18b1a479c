// The restore tool: a sign-in when this machine has none, then the guided
// restore window.
#include "desktop/frmRestore.h"

int main(int argc, char** argv) { return calvora::desktop::RunRestoreProgram(argc, argv); }
