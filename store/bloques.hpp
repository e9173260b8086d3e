// Reading stored records at the speed of reading the file: whole records
// delivered through one fixed buffer, and a typed code compared with the
// code fields where they lie in it, without decoding a record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>

#include "store/descriptor.hpp"

namespace store {

// Delivers a file's whole records in order from offset 0, through one fixed
// buffer, without moving the descriptor's offset.
class LectorBloques {
 public:
  // Big enough that a scan costs about what reading the file costs; fixed so
  // that memory does not grow with the file.
  static constexpr std::size_t kCapacidad = 256 * 1024;

  LectorBloques(Manejador descriptor, std::size_t tamanoRegistro) noexcept;

  // The next whole record's bytes, valid until the next call; nullptr at the
  // end of the file (a trailing fragment is never delivered) or after a read
  // error.
  const unsigned char* siguiente() noexcept {
    if (fin_ - inicio_ < tamanoRegistro_ && !rellenar()) return nullptr;
    const unsigned char* registro = buffer_.get() + inicio_;
    inicio_ += tamanoRegistro_;
    return registro;
  }

  // Every whole record now in the buffer at once (at least one), valid until
  // the next call; empty at the end of the file or after a read error.
  std::span<const unsigned char> siguienteBloque() noexcept {
    if (fin_ - inicio_ < tamanoRegistro_ && !rellenar()) return {};
    const std::size_t largo = (fin_ - inicio_) / tamanoRegistro_ * tamanoRegistro_;
    const std::span<const unsigned char> bloque(buffer_.get() + inicio_, largo);
    inicio_ += largo;
    return bloque;
  }

  // Success unless a read failed.
  Resultado estado() const noexcept;

  // Once the end is reached, the length of a trailing fragment (0 if none).
  std::size_t sobrante() const noexcept { return fin_ - inicio_; }
  // How far into the file it has read.
  std::int64_t leido() const noexcept { return desplazamiento_; }

  // Whether the next call reads the file (the buffer holds no whole record
  // and the end is not reached yet).
  bool leera() const noexcept { return !agotado_ && fin_ - inicio_ < tamanoRegistro_; }
  // The file to read from next, at the same offset: the file opened afresh.
  void usar(Manejador descriptor) noexcept { descriptor_ = descriptor; }

 private:
  bool rellenar() noexcept;

  std::unique_ptr<unsigned char[]> buffer_;  // kCapacidad bytes
  Manejador descriptor_;
  std::size_t tamanoRegistro_;
  std::size_t inicio_ = 0;           // first byte not yet delivered
  std::size_t fin_ = 0;              // end of the bytes read into the buffer
  std::int64_t desplazamiento_ = 0;  // file offset of the next read
  bool agotado_ = false;             // end of file or error reached
  int numeroError_ = 0;              // error number of a failed read, or 0
};

// A typed code, made ready to be compared with a great many stored code
// fields of `ancho` bytes: a field holds the code when it is exactly its
// characters followed by a zero or by the field's end (a code field is read up to its zero, or
// whole when it has none; letter case counts), and the test on a field that differs costs one
// comparison of eight bytes.
class CodigoBuscado {
 public:
  CodigoBuscado(std::string_view codigo, std::size_t ancho) noexcept;

  bool en(const unsigned char* campo) const noexcept {
    if (largo_ >= 8) {
      std::uint64_t inicio;
      std::memcpy(&inicio, campo, sizeof inicio);
      if (inicio != inicio_) return false;
    } else if (largo_ > 0 && campo[0] != codigo_[0]) {
      return false;
    }
    return largo_ <= ancho_ && std::memcmp(campo, codigo_.data(), largo_) == 0 &&
           (largo_ == ancho_ || campo[largo_] == 0);
  }

 private:
  std::string_view codigo_;
  std::size_t largo_;
  std::size_t ancho_;
  std::uint64_t inicio_ = 0;  // the code's first eight bytes, when it has them
};

}  // namespace store
