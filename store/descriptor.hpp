// What the store and the system hand each other: an open file (Descriptor),
// which file it is (Identidad), how it is opened (Apertura), and what a call
// came to (Resultado). Below both store/archivos.hpp and the platform's
// store/sistema.hpp, so that neither needs the other for them.
#pragma once

#include <chrono>
#include <cstdint>

namespace store {

enum class Falla : std::uint8_t {
  ninguna,
  noExiste,  // the file is not there
  noSeAbre,  // there, but not a file we can use: a directory, a device, no access...
  noSeCrea,  // the scratch file could not be made; the file replaced is as it was
  // A read failed: a scan has delivered the records before it; a
  // replacement stops and leaves the file as it was.
  lectura,
  // A write or fsync failed: an append is cut back to what the file held
  // before; a replacement leaves the file as it was.
  escritura,
  renombrar,  // the scratch file could not take the file's place; the file is as it was
  // The new file is in place, but its name may not survive a power cut: the
  // directory could not be flushed.
  sincronizarDirectorio,
  // Another copy held the file's lock for longer than kEsperaMaxima; nothing
  // was changed.
  enUso,
  // The code is stored already (by another copy while this one's clerk
  // typed, or since an import's rows were checked): nothing was written.
  repetido,
  // The file was replaced or removed since a reading of it began: what was
  // read before came from the old file, and no more is read.
  reemplazado,
};

// How long an append or a deletion waits for another copy's to end.
inline constexpr std::chrono::seconds kEsperaMaxima{10};

struct [[nodiscard]] Resultado {
  Falla falla = Falla::ninguna;
  int numeroError = 0;  // the system's error number for the call that failed; 0 on success

  explicit operator bool() const noexcept { return falla == Falla::ninguna; }
};

inline Resultado falla(Falla tipo, int numeroError) noexcept {
  return Resultado{tipo, numeroError};
}

// A file descriptor, or a Windows file handle; -1 when none, on both.
using Manejador = std::intptr_t;

// Owns one open file.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(Manejador numero) noexcept : numero_(numero) {}
  Descriptor(Descriptor&& otro) noexcept : numero_(otro.soltar()) {}
  Descriptor& operator=(Descriptor&& otro) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { cerrar(); }

  Manejador numero() const noexcept { return numero_; }
  bool abierto() const noexcept { return numero_ != -1; }
  Manejador soltar() noexcept;
  void cerrar() noexcept;

 private:
  Manejador numero_ = -1;
};

enum class Apertura : std::uint8_t {
  leer,
  escribir,  // read and write
  crear,     // read and write, creating the file when missing
};

// Which file an open descriptor is: device and inode on POSIX, volume and
// file index on Windows.
struct Identidad {
  std::uint64_t volumen = 0;
  std::uint64_t indice = 0;
  friend bool operator==(const Identidad&, const Identidad&) = default;
};

}  // namespace store
