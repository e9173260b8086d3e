// The seam between the console's rules and the platform under them.
//
// console/*.cpp hold what the console defines once: the window and its
// attribute rules, the cell writer, the key table and the choice of result by
// modifiers, the byte decoder, the owed second code of an extended key, the
// stream's CR LF and its 512-byte buffer, the rules of a line. They reach the
// terminal only through the primitives below, which console/posix/ and
// console/windows/ each provide, in files of the same names:
//
//   terminal.cpp   open and close, cells, cursor, scrolling, bell, the stream,
//                  the interpreter
//   keyboard.cpp   key presses, input bytes, the echo of a line being typed
//   signals.cpp    what gives the terminal back when the program is ended
//                  from outside
//
// Calls go one way: the shared layer calls these; a platform calls nothing of
// the shared layer. What a platform needs from it is handed down as arguments,
// and what the shared layer needs is returned up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/keys.hpp"

namespace console::platform {

// A 0-based screen position.
struct Position {
  int x = 0;
  int y = 0;
  friend bool operator==(const Position&, const Position&) = default;
};

// What opening the terminal found.
struct Found {
  bool sizeKnown = false;  // width, height and attribute were read
  int width = 0;           // columns and rows of the screen, at most 255 each
  int height = 0;
  unsigned attribute = 0;         // the terminal's colours as an attribute
  bool streamIsTerminal = false;  // standard output is a terminal: written at once
  bool keyEvents = false;         // keys come as key events (nextKeyPress), not as input bytes
  unsigned char erase = 0x7F;     // the byte that is Backspace, when keys come as bytes
  bool utf8 = false;              // input bytes are UTF-8: keys and lines decoded to single bytes
  bool interactive = false;       // keys and lines are typed at the console, not scripted
};

// The screen as the shared layer set it up from what was found.
struct Window {
  int left = 0;  // the text window, 0-based, inclusive: always the whole screen
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width = 0;  // the screen's columns and rows, 0 when they were not found
  int height = 0;
  unsigned normalAttribute = 0;  // the colours that stand for the terminal's own
};

// The most cells the shared cell writer hands putCells at once: it cuts its
// runs there.
inline constexpr std::size_t kCellRun = 80;

// Standard output that the shared layer holds back (a stream that is not a
// terminal is written 512 bytes at a time). Handed to each primitive that may
// draw: one that draws on the stream's own output, or starts a program that
// does, writes these bytes first, so that everything keeps its order, and
// says so in `fate`.
struct Held {
  enum class Fate : std::uint8_t { kept, written, failed };
  std::string_view bytes;
  Fate fate = Fate::kept;
};

// Takes the terminal's input and output for the run; installs what gives them
// back if the program is ended from outside.
Found openTerminal();
// The window every later primitive draws in; once, after openTerminal.
void useWindow(const Window& window);
// Gives back what openTerminal took: input mode and colours as found. Called
// once, after the shared layer is done.
void closeTerminal();

// Direct drawing; the window is the whole screen, so positions are screen
// positions. None of these reports a failure.
bool readCursor(Position& at);  // false: the position cannot be read
void setCursor(Position at);
// Places one run of at most kCellRun cells on one row from `at`, codes as they
// are, without moving the cursor.
void putCells(Position at, std::string_view codes, unsigned attribute);
// `count` spaces in `attribute` from `at`, going on along the rows.
void blankCells(Position at, int count, unsigned attribute);
// The window up one row; its bottom row becomes spaces in `attribute`.
void scrollUp(unsigned attribute);
void bell();
// What was drawn since the last call is shown, with the cursor where
// setCursor put it: at the end of an operation of direct drawing, before a key
// or a line is read, and after a line, whose echo may leave a row to finish.
void drawingDone(Held& held);

// Standard output. `text` has every line feed already preceded by a
// carriage return; returns the bytes to write for it.
std::string streamBytes(std::string_view text);
bool writeStream(const char* bytes, std::size_t size);  // all of them, or false

// Keys. Between beginKeys and endKeys the input is in raw mode; both false
// when the mode cannot be read, changed or given back.
bool beginKeys();
bool endKeys();
enum class Read { Got, Timeout, End, Error };
// The next key press (releases and other events skipped), where keys come as
// key events.
Read nextKeyPress(KeyPress& press);

// Input bytes, for keys that come as bytes and for lines: up to `capacity`
// into `bytes`, waiting at most timeoutMs (-1: for as long as it takes). A
// line typed at a terminal is echoed as it is read.
Read readInput(unsigned char* bytes, std::size_t capacity, int timeoutMs, std::size_t& got,
               Held& held);

// A line is about to be read; the line is over.
void lineStarts();
void lineEnds();

// Hands `command` to the command interpreter and waits for it; its exit
// status, or -1 when it cannot be run.
int runCommand(const char* command, Held& held);

}  // namespace console::platform
