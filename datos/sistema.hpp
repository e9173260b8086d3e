// The seam between alumnos-datos and the platform it runs on, which
// datos/posix/ and datos/windows/ each provide in a file of the same name,
// sistema.cpp: standard input, output and error, a whole file read, and the
// words for a failure. What goes out is bytes, written as they are on every platform:
// nothing translates line ends, so a CSV row ends in CR LF and a report line
// in LF wherever the program runs, to a file, a pipe or a console.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace datos::sistema {

// Writes every byte to standard output, or to standard error; 0, or the
// system's error number (errno on POSIX, the GetLastError code on Windows)
// of the write that failed.
int escribirSalida(std::string_view bytes) noexcept;
int escribirErrores(std::string_view bytes) noexcept;

// Every byte of the file `nombre`, or of standard input when it is nullptr,
// into `bytes`, as they are: 0, or the system's error number.
int leerTodo(const char* nombre, std::string& bytes);

// Why a read or a write failed, in a few Spanish words, from the system's
// error number; `archivo` is the file that could not be read, or nullptr for
// the output.
std::string motivo(int numeroError, const char* archivo);

}  // namespace datos::sistema
