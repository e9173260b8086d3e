// The console's control events: what gives the console its input mode back
// when the program is ended from outside.
#pragma once

#include <windows.h>

namespace console::windows {

// Installs the control handler; `input` is the console's input ("CONIN$").
void installHandler(HANDLE input);
void removeHandler();
// The input mode to give back while a key is awaited (`active`), for the
// control handler.
void keyModeForHandler(DWORD mode, bool active);

}  // namespace console::windows
