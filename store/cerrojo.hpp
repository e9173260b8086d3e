// What the system gives the store so that several copies of the program can
// share one directory's files: each file has one lock, taken exclusive by a
// copy that changes the file and shared by one that reads it whole, and the
// name of a file can be checked against a file already open.
//
// The lock is a byte-range lock on one byte far past any data. Locks that
// keep reads and writes out of the range they cover (as on Windows) then
// never stand in a reader's way, and every copy on every platform locks the
// same byte. The system takes the lock back when its holder closes the file
// or dies, so a copy killed while holding it blocks no other.
//
// Only these few calls differ from one system to another (store/posix/ and
// store/windows/, cerrojo.cpp); waiting for the lock and acting on a
// replaced file are the store's own (archivos.cpp). Failures leave the
// system's error number for sistema::ultimoError().
#pragma once

#include <cstdint>

#include "store/archivos.hpp"

namespace store::detalle {

// Far past the end of any file of records, and the same for every copy.
inline constexpr std::int64_t kByteDelCerrojo = std::int64_t{1} << 62;

enum class Intento : std::uint8_t {
  tomado,   // this descriptor holds the file's lock now
  ocupado,  // another copy holds it
  fallido,  // the system refused
};

enum class Modo : std::uint8_t {
  exclusivo,   // to change the file: the descriptor must be open for writing
  compartido,  // to read it whole while it stays as it is: open for reading
};

// One try, without waiting, at the lock of the file open on `descriptor`.
Intento intentarBloquear(Manejador descriptor, Modo modo = Modo::exclusivo) noexcept;

// Gives back the lock held through `descriptor`. False when the
// system refused; closing the descriptor then gives it back.
bool desbloquear(Manejador descriptor) noexcept;

enum class Destino : std::uint8_t {
  esteArchivo,  // the name leads to the file open on the descriptor
  otroArchivo,  // to another one: the file was replaced since it was opened
  ninguno,      // to nothing: the file was removed since
  fallido,      // cannot tell
};

// Where `nombre` leads now, compared with the file open on `descriptor`.
Destino adondeLleva(const char* nombre, Manejador descriptor) noexcept;

}  // namespace store::detalle
