// The seam between the console's rules and the platform under them.
//
// console/*.cpp hold what the console defines once: the window and its
// attribute rules, the cell writer, the key table and the choice of result by
// modifiers, the owed second code of an extended key, the stream's CR LF and
// its 512-byte buffer, the rules of a line. They reach the terminal only
// through the primitives below, which console/posix/ and console/windows/
// each provide, in files of the same names:
//
//   terminal.cpp   open and close, cells, cursor, scrolling, bell, the stream,
//                  the interpreter, what is given back at every way out
//   keyboard.cpp   key presses, input bytes, the echo of a line being typed
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "console/decoder.hpp"
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
  unsigned attribute = 0;          // the terminal's colours as an attribute
  KeyDecoder decoder{0x7F, true};  // how input bytes are decoded into keys
  bool utf8 = false;               // input is UTF-8: lines are kept as single-byte text
  bool interactive = false;        // keys and lines are typed at the console, not scripted
};

// --- Provided by each platform ---

// Takes the terminal's input and output for the run; installs what gives them
// back if the program is ended from outside.
Found openTerminal();
// Gives back what openTerminal took: pending output written, input mode and
// colours as found. Called once, after the shared layer is done.
void closeTerminal();

// Direct drawing; the window is the whole screen, so positions are screen
// positions. None of these reports a failure.
bool readCursor(Position& at);  // false: the position cannot be read
void setCursor(Position at);
// Places one run of cells on one row from `at`, codes as they are, without
// moving the cursor.
void putCells(Position at, std::string_view codes, unsigned attribute);
// `count` spaces in `attribute` from `at`, going on along the rows.
void blankCells(Position at, int count, unsigned attribute);
// The window up one row; its bottom row becomes spaces in `attribute`.
void scrollUp(unsigned attribute);
void bell();
// An operation of direct drawing is complete.
void drawingDone();

// Standard output. `text` has every line feed already preceded by a
// carriage return; returns the bytes to write for it.
std::string streamBytes(std::string_view text);
bool streamIsTerminal();
bool writeStream(const char* bytes, std::size_t size);  // all of them, or false

// Keys. Between beginKeys and endKeys the input is in raw mode; both false
// when the mode cannot be read, changed or given back.
bool beginKeys();
bool endKeys();
enum class Read { Got, Timeout, End, Error };
// The next key press (releases and other events skipped).
Read nextKeyPress(KeyPress& press);

// Input bytes, for keys that come as bytes and for lines: up to `capacity`
// into `bytes`, waiting at most timeoutMs (-1: for as long as it takes).
Read readInput(unsigned char* bytes, std::size_t capacity, int timeoutMs, std::size_t& got);

// A line is about to be read; each byte read; the line is over.
void lineStarts();
void lineByte(unsigned char byte);
void lineEnds();

// Hands `command` to the command interpreter and waits for it; its exit
// status, or -1 when it cannot be run.
int runCommand(const char* command);

// --- Provided by the shared layer to the platforms ---

// Fills the layer's state from what was found (as openConsole does once the
// terminal is open).
void startLayer(const Found& found);
// Writes out what the stream holds back (before direct drawing on the same
// output, and at the end).
void flushStream();
// The next key press decoded from input bytes.
Read nextPressFromBytes(KeyPress& press);

}  // namespace console::platform
