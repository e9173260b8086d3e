// Control events on the Windows console: Ctrl+Break, Ctrl+C outside a key,
// the window closed, the session ending. The handler runs on a thread of its
// own, while the program goes on: everything it reads is in one struct of
// lock-free atomics.
#include "console/windows/signals.hpp"

#include <atomic>

namespace console::windows {
namespace {

// What the control handler reads.
struct HandlerSafe {
  std::atomic<HANDLE> input{INVALID_HANDLE_VALUE};  // "CONIN$", whose mode it gives back
  std::atomic<DWORD> keyWaitMode{0};                // the mode found before the key awaited
  std::atomic<bool> keyWaitActive{false};           // a key is awaited: the mode is changed now
};

static_assert(std::atomic<HANDLE>::is_always_lock_free && std::atomic<DWORD>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "the handler never waits for the program");

HandlerSafe safe;

// The input mode is given back, then the console's own handling ends the
// program. Colours need nothing: the layer never changes them.
BOOL WINAPI onControl(DWORD) {
  if (safe.keyWaitActive) ::SetConsoleMode(safe.input, safe.keyWaitMode);
  return FALSE;
}

}  // namespace

void installHandler(HANDLE input) {
  safe.input = input;
  ::SetConsoleCtrlHandler(onControl, TRUE);
}

void removeHandler() {
  ::SetConsoleCtrlHandler(onControl, FALSE);
}

void keyModeForHandler(DWORD mode, bool active) {
  safe.keyWaitMode = mode;
  safe.keyWaitActive = active;
}

}  // namespace console::windows
