// The input modes the program puts a terminal in, and the signal handlers
// that give the terminal back however the program is ended or stopped from
// outside.
#pragma once

#include <termios.h>

namespace console::posix {

// The input modes of a terminal the program reads. The program keeps the
// terminal raw from start to end, so that what is typed ahead reaches it as
// typed: `edit` at every moment but a key wait (the keyboard's signals and
// flow control as the terminal had them), `key` while a key is awaited
// (every byte a key). `own` is the mode found at start-up.
enum class Mode : int { own = 0, edit = 1, key = 2 };

// Makes the modes from `own` and installs the handlers of the signals that
// end, fault or stop the program: they give `drawFd` the default colours and
// `inputFd` (-1: input is no terminal) its own mode back.
void installHandlers(int drawFd, int inputFd, const termios& own);
// The actions that were there before installHandlers, back.
void removeHandlers();
// Sets the terminal's input mode, and the one a stop and continue come back
// to; false when it cannot be set. Input that is no terminal has none to set.
bool enterMode(Mode mode);

}  // namespace console::posix
