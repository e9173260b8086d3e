// End-to-end test harness: runs a program in a pseudo-terminal whose screen is
// kept by libvterm, or without any terminal at all, and reads back what a
// clerk at the keyboard would see.
//
//   harness::ScratchDir dir;                  // declare it before the Terminal
//   dir.write("ALUMNO.txt", bytes);
//   harness::Terminal t(dir.path());          // returns once the menu waits for a key
//   t.type("1\r");                            // returns once the program waits again
//   EXPECT_EQ(t.text(20, 19, 5), "...") << t.dump();
//   EXPECT_EQ(t.foreground(1, 1), harness::Colour::indexed(15));
//   EXPECT_EQ(t.waitExit(), 0);
//
// Every wait has a deadline; when one passes, the child is killed and
// harness::Failure is thrown with the screen in its message, so a test fails
// instead of hanging.
//
// "Waiting for input" means the started process itself sleeps in read() on the
// terminal (standard input or /dev/tty) with nothing left to read; a program
// that reads through a child process of its own, or waits in poll() without a
// timeout, never settles.
#pragma once

#include <sys/types.h>
#include <termios.h>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "screen.hpp"

#ifndef ALUMNOS_BINARY
#error "ALUMNOS_BINARY must name the program under test"
#endif

namespace harness {

// A deadline passed or the child could not be started; the message says which
// and carries the screen.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Exit status as returned by exited(), waitExit() and runScript(): the
// status passed to exit() (0-255), or killedBy(signal) for a signal death.
constexpr int killedBy(int signal) {
  return -signal;
}

struct Options {
  int columns = 80;
  int rows = 25;
  std::string program = ALUMNOS_BINARY;
  std::vector<std::string> args{};  // argv[1...]
  // "NAME=value" entries added to (or replacing) the child's environment, which
  // is otherwise PATH, HOME, TERM=xterm-256color, LANG=C.UTF-8 and any
  // sanitizer options of the test process.
  std::vector<std::string> env{};
  // For each settle(), waitExit(), runScript() and each write of typed bytes.
  std::chrono::milliseconds deadline{10'000};
  // Tell "waiting for input" by what /proc/<pid>/syscall says the child is
  // doing. false forces the fallback that waits for the output to go quiet.
  bool watchSyscalls = true;
  std::chrono::milliseconds quiet{150};  // how long quiet means idle, in the fallback
  // The pseudo-terminal reports 0 x 0, as a new one does before its size is
  // set; the screen kept for the test is still columns x rows.
  bool reportsNoSize = false;
  // Standard input in non-blocking mode, as an earlier program may leave a
  // terminal. A program that then waits in poll() never settles by its
  // syscalls: use watchSyscalls = false with it.
  bool nonBlockingInput = false;
  // runScript only: how long to hold the input back after the start.
  std::chrono::milliseconds inputDelay{0};
};

// Keys whose bytes are not plain characters, as xterm sends them in its normal
// (not application) cursor-key mode, with the erase character DEL.
enum class Key {
  Enter,
  Tab,
  ShiftTab,
  Backspace,
  Esc,
  Up,
  Down,
  Right,
  Left,
  Home,
  End,
  Insert,
  Delete,
  PageUp,
  PageDown,
  F1,
  F2,
  F3,
  F4,
  F5,
  F6,
  F7,
  F8,
  F9,
  F10,
  F11,
  F12,
};
std::string keyBytes(Key key);

// The program running in a pseudo-terminal of the given size, started in
// `directory`. The constructor returns once the program waits for its first
// input (or has exited). Not copyable: it owns the child.
class Terminal {
 public:
  explicit Terminal(const std::string& directory, Options options = {});
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Bytes as a clerk types them, all at once, then settle().
  void type(std::string_view bytes);
  // One byte at a time, settling after each: every key reaches a program that
  // already waits for it. Not for escape sequences, which would arrive split.
  void typeByteByByte(std::string_view bytes);
  // A key's whole byte sequence at once, then settle().
  void key(Key k);
  // Raw bytes without settling: typeahead, or bytes split across a timeout.
  void send(std::string_view bytes);
  // Returns when the program has consumed every byte sent and is blocked
  // reading the terminal, or has exited; all its output is then on the screen.
  void settle();

  // Screen contents as UTF-8; columns and rows are 1-based. text() is exactly
  // `length` cells, blanks included; row() is the whole row with trailing
  // blanks removed.
  std::string text(int column, int row, int length) const;
  std::string row(int row) const;
  Colour foreground(int column, int row) const;
  Colour background(int column, int row) const;
  Position cursor() const;
  int columns() const { return options_.columns; }
  int rows() const { return options_.rows; }

  // Exit status if the program has ended (see killedBy), without waiting.
  std::optional<int> exited();
  // Waits for the program to end and returns its exit status.
  int waitExit();

  // The program's process, for signals sent by a test.
  pid_t pid() const { return pid_; }
  // The terminal's input mode as the program left it (line mode, echo...).
  termios mode() const;

  // The whole screen, numbered rows, cursor and state, for failure messages.
  std::string dump() const;

 private:
  bool drain();
  bool reap();
  bool slaveHasInput() const;
  bool childBlockedReadingTerminal() const;
  [[noreturn]] void fail(const std::string& what);
  void writeAll(std::string_view bytes);

  Options options_;
  int master_ = -1;
  int slave_ = -1;  // kept open so the harness can see the child's input queue
  pid_t pid_ = -1;
  std::optional<int> status_;
  bool syscallsReadable_ = true;
  Screen screen_;
};

// What runScript() saw: everything written to standard output and standard
// error, the exit status (see killedBy) and the program's peak resident memory.
struct Script {
  std::string output;
  std::string errors;
  int status = 0;
  long peakKiB = 0;
};

// Runs the program with no terminal at all: in a new session (so it has no
// controlling terminal), standard input a pipe that gives `input` and then end
// of file, output captured. Size and syscall options are ignored.
Script runScript(const std::string& directory, std::string_view input, Options options = {});

}  // namespace harness
