// The console on the Windows console: what its two files share.
#pragma once

#include <windows.h>

#include "console/platform.hpp"

namespace console::windows {

// Everything the Windows side knows; one instance.
struct Console {
  HANDLE input = INVALID_HANDLE_VALUE;           // "CONIN$": key events and the input mode
  HANDLE output = INVALID_HANDLE_VALUE;          // "CONOUT$": cells, cursor, scrolling
  HANDLE standardInput = INVALID_HANDLE_VALUE;   // lines, and keys when it is not the console
  HANDLE standardOutput = INVALID_HANDLE_VALUE;  // the stream
  bool streamIsTerminal = false;                 // standard output is a character device
  bool streamIsConsole = false;   // ...and the console itself: written as characters, not bytes
  bool linesFromConsole = false;  // standard input is the console: lines read as characters
  bool keysAreEvents = false;     // ...and "CONIN$" is open: keys are its key events
  bool modeFound = false;         // the input mode at start-up was read...
  DWORD modeAtStart = 0;          // ...and is this
  DWORD modeBeforeKey = 0;        // the input mode found before the key now awaited
  platform::Window window;        // as the shared layer set it up
};

Console& console();

}  // namespace console::windows
