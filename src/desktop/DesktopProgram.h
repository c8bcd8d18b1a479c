#pragma once
// The control program's start: "--version", the command-line service
// operation, the sign-in window, then the main window until it closes.
#include "desktop/DesktopPrompts.h"
#include "foundation/Env.h"

namespace calvora::desktop {

// The whole program; its exit code.
int RunDesktopProgram(int argc, char** argv);

// With the application object made: the log, the sign-in window, and
// after a successful sign-in the main window until it closes. 0 when the
// sign-in is cancelled (no other window is made).
int RunDesktopSession(TEnv& Env, TDesktopPrompts& Prompts, bool Maximized = true);

// Style and font of the application object, once it is made.
void SetUpDesktopApplication();

// Whether windows can be shown: a display ($DISPLAY, $WAYLAND_DISPLAY) or a
// chosen Qt platform ($QT_QPA_PLATFORM).
bool HasDisplay();

}  // namespace calvora::desktop
