// A backup of the school's files into a new folder, for instance on a USB
// stick, that a clerk can take while copies of the program are at work.
//
// Each record file is copied byte for byte under its lock taken shared, so
// no other copy's append is caught half written; the lock is held while the
// file is read and no longer. The copies go into a working folder
// (respaldo-2026-12-07-1530.incompleto), are flushed to the disk, read back
// and checked against what was read, and only then does the folder take its
// final name (respaldo-2026-12-07-1530, or -2, -3... when that is taken). A
// folder with a final name is therefore always whole; on any failure the
// working folder and what it holds are removed.
#pragma once

#include <optional>
#include <string>

#include "datos/csv.hpp"

namespace datos {

// Backs up the current folder's files into a new folder inside `carpeta`,
// named by the local time at the start, and writes what was copied to
// `salida`. Nothing when done; otherwise the one line that says why not.
std::optional<std::string> respaldar(const std::string& carpeta, Salida& salida);

}  // namespace datos
