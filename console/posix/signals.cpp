// Signals on a POSIX terminal. Handlers do only async-signal-safe work: write
// a prebuilt reset (CAN ESC [ m: abandon a half-sent sequence, default
// colours), tcsetattr, restore the action that was there before, re-raise.
// Everything they read is in one struct, filled before they are installed.
#include "console/posix/signals.hpp"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>

namespace console::posix {
namespace {

// Signals that end the program, each given the terminal's own mode and
// default colours back first.
constexpr int kTerminatingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

// A fault ends the program too, with the terminal raw: it is given back,
// then the action that was there before (a sanitizer's report, or the
// default) meets the faulting instruction again on return. A fault signal
// sent from outside is raised again.
constexpr int kFaultSignals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};

constexpr char kReset[] = "\x18\x1b[m";

// What the handlers read. Set only outside them, everything before `ready`.
struct SignalSafe {
  volatile std::sig_atomic_t ready = 0;  // the fields below are set: handlers may act
  volatile std::sig_atomic_t mode = 0;   // the Mode the terminal is in now
  int drawFd = -1;                       // given the default colours back
  int inputFd = -1;                      // given its own mode back; -1: input is no terminal
  termios modes[3]{};                    // each Mode's settings, by Mode
  struct sigaction faultBefore[std::size(kFaultSignals)]{};  // what a fault meets again
};

// What installHandlers took over, for removeHandlers.
struct Replaced {
  struct sigaction terminating[std::size(kTerminatingSignals)]{};
  bool caught[std::size(kTerminatingSignals)]{};  // not ignored at start-up, so taken over
};

SignalSafe safe;
Replaced replaced;

termios& modeFor(Mode mode) {
  return safe.modes[static_cast<int>(mode)];
}

// The terminal as it was found: default colours, its own input mode.
void giveTerminalBack() {
  if (!safe.ready) return;
  (void)!::write(safe.drawFd, kReset, sizeof kReset - 1);
  if (safe.inputFd >= 0) ::tcsetattr(safe.inputFd, TCSANOW, &modeFor(Mode::own));
}

void onTerminatingSignal(int sig) {
  int savedErrno = errno;
  giveTerminalBack();
  ::signal(sig, SIG_DFL);
  ::raise(sig);
  errno = savedErrno;
}

// A stop gives the shell the terminal's own mode back; on continuing, the
// program's mode comes back with it.
void onStop(int) {
  int savedErrno = errno;
  const auto mode = static_cast<Mode>(safe.mode);
  if (mode != Mode::own && safe.inputFd >= 0) {
    ::tcsetattr(safe.inputFd, TCSANOW, &modeFor(Mode::own));
  }
  ::signal(SIGTSTP, SIG_DFL);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  ::sigprocmask(SIG_UNBLOCK, &stop, nullptr);
  ::raise(SIGTSTP);
  // Continued.
  struct sigaction action {};
  action.sa_handler = onStop;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGTSTP, &action, nullptr);
  if (mode != Mode::own && safe.inputFd >= 0) ::tcsetattr(safe.inputFd, TCSANOW, &modeFor(mode));
  errno = savedErrno;
}

void onFault(int sig, siginfo_t* info, void*) {
  int savedErrno = errno;
  giveTerminalBack();
  for (std::size_t i = 0; i < std::size(kFaultSignals); ++i) {
    if (kFaultSignals[i] == sig) ::sigaction(sig, &safe.faultBefore[i], nullptr);
  }
  if (info == nullptr || info->si_code <= 0) ::raise(sig);
  errno = savedErrno;
}

// Raw, for a key wait: no echo, no editing, no signals or flow control from
// the keyboard, no translation of CR; each byte as soon as it comes.
termios keyModeFrom(const termios& mode) {
  termios raw = mode;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ECHONL | IEXTEN | ISIG));
  raw.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL | INLCR | IGNCR));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return raw;
}

// Raw as for a key, but the keyboard's signals and flow control as the
// terminal had them: the interrupt key still ends the program outside a
// key wait.
termios editModeFrom(const termios& mode) {
  termios edit = keyModeFrom(mode);
  edit.c_lflag |= mode.c_lflag & ISIG;
  edit.c_iflag |= mode.c_iflag & IXON;
  return edit;
}

}  // namespace

void installHandlers(int drawFd, int inputFd, const termios& own) {
  safe.drawFd = drawFd;
  safe.inputFd = inputFd;
  modeFor(Mode::own) = own;
  modeFor(Mode::edit) = editModeFrom(own);
  modeFor(Mode::key) = keyModeFrom(own);
  safe.mode = static_cast<int>(Mode::own);
  safe.ready = 1;
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  action.sa_handler = onTerminatingSignal;
  for (std::size_t i = 0; i < std::size(kTerminatingSignals); ++i) {
    // A signal the program was started ignoring (nohup, a background job)
    // stays ignored.
    struct sigaction before {};
    ::sigaction(kTerminatingSignals[i], nullptr, &before);
    replaced.caught[i] = before.sa_handler != SIG_IGN;
    if (replaced.caught[i]) {
      ::sigaction(kTerminatingSignals[i], &action, &replaced.terminating[i]);
    }
  }
  action.sa_handler = onStop;
  ::sigaction(SIGTSTP, &action, nullptr);
  struct sigaction fault {};
  sigemptyset(&fault.sa_mask);
  fault.sa_flags = SA_SIGINFO;
  fault.sa_sigaction = onFault;
  for (std::size_t i = 0; i < std::size(kFaultSignals); ++i) {
    ::sigaction(kFaultSignals[i], &fault, &safe.faultBefore[i]);
  }
  // A reader that went away makes writes fail instead of ending the program.
  ::signal(SIGPIPE, SIG_IGN);
}

void removeHandlers() {
  safe.ready = 0;
  for (std::size_t i = 0; i < std::size(kTerminatingSignals); ++i) {
    if (replaced.caught[i]) ::sigaction(kTerminatingSignals[i], &replaced.terminating[i], nullptr);
    replaced.caught[i] = false;
  }
  for (std::size_t i = 0; i < std::size(kFaultSignals); ++i) {
    ::sigaction(kFaultSignals[i], &safe.faultBefore[i], nullptr);
  }
  ::signal(SIGTSTP, SIG_DFL);
}

bool enterMode(Mode mode) {
  if (safe.inputFd < 0) return true;
  // Set first: a stop that comes now continues in the mode being entered.
  safe.mode = static_cast<int>(mode);
  return ::tcsetattr(safe.inputFd, TCSANOW, &modeFor(mode)) == 0;
}

}  // namespace console::posix
