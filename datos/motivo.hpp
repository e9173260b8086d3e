// Every failure alumnos-datos reports, in its own Spanish words, whatever the
// platform's error number was.
#pragma once

#include <string>
#include <string_view>

namespace datos {

// Why a read or a write failed, in a few Spanish words ("error 1234 del
// sistema" for a cause the tool has no words for); `archivo` is the file that
// could not be read or written, or nullptr for the output.
std::string motivo(int numeroError, const char* archivo);

// A name the clerk typed, safe to show on a line: control characters as '?'.
std::string mostrable(std::string_view texto);

}  // namespace datos
