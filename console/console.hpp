// The console: every screen is drawn and read through these operations.
//
// Two ways of drawing share the terminal's one cursor: direct drawing places
// cells in the current text attribute (consoleWrite, consoleWriteChar,
// clearScreen, clearToEndOfLine); the standard output stream (printText,
// printChar, printNumber) is drawn in the terminal's default colours. Two ways
// of reading: single keys with no echo (readKey, readKeyEcho) and whole lines,
// echoed and edited as the terminal's line mode does (readLine). Keys typed
// ahead of either are kept, in order, for the read they reach.
//
// Positions are (column, row), counted from 1 at the top-left corner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace console {

// The layer's process-wide state; one instance, filled by openConsole.
struct ConsoleScreen {
  std::uint8_t windowLeft = 0;    // text window, 0-based, inclusive: always the whole screen
  std::uint8_t windowTop = 0;
  std::uint8_t windowRight = 0;
  std::uint8_t windowBottom = 0;
  std::uint16_t textAttribute = 0;    // attribute of every cell direct drawing places or blanks
  std::uint16_t normalAttribute = 0;  // the terminal's default colours (7: light grey on black)
  std::uint8_t screenWidth = 0;       // size found at start-up
  std::uint8_t screenHeight = 0;
  std::int32_t pendingExtendedCode = -1;  // second code readKey still owes, or -1
};

// Takes the terminal for the run: its size and colours, its input and output.
void openConsole();
// Releases the terminal: pending output written, input mode and colours as
// found. Safe to call more than once.
void closeConsole();
const ConsoleScreen& consoleScreen();
// Whether keys and lines are typed at the console by a person, rather than
// read from a script on standard input.
bool isInteractive();

// Direct drawing.
void clearScreen();
void clearToEndOfLine();
void moveCursor(int column, int row);
void setTextColor(int color);
int consoleWrite(const char* text);
void consoleWriteChar(int code);

// The standard output stream.
void printText(const char* text);
void printChar(char character);
void printNumber(std::int32_t value);

// Keyboard. readKey returns a code from 1 to 255, or 0 for an extended key
// whose second code the next call returns, or -1 when no key can be read.
int readKey();
int readKeyEcho();
// One line into buffer, as single-byte text (a UTF-8 locale's characters
// become their Latin-1 codes, '?' outside Latin-1), always zero-terminated:
// at most capacity - 1 bytes are kept and the rest of a longer line is read
// and dropped. Returns the whole line's length, which is more than
// capacity - 1 when the line was cut; nothing at the end of input, the
// buffer then unchanged. A NUL typed in the line is kept like any byte.
std::optional<std::size_t> readLine(char* buffer, std::size_t capacity);

// Runs a command of the command interpreter and waits for it: on Windows the
// interpreter itself ("COMSPEC", else CMD.EXE); on POSIX, where none knows
// "cls", the layer carries out "cls" alone. Returns the exit status, or -1
// when it cannot be run.
int clearByCommand(const char* command);

}  // namespace console
