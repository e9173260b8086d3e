// CSV as spreadsheets and RFC 4180 readers take it, written through one
// fixed buffer.
//
// Stored texts are single-byte Latin-1; a field comes out as UTF-8. Control
// bytes (0x01-0x1F, 0x7F and Latin-1's own controls 0x80-0x9F) become
// spaces, so no field ever holds a line end. A field holding the separator or
// a quote is enclosed in quotes with its quotes doubled. A text that starts
// with = + - or @, which a spreadsheet would run as a formula, gets a leading
// apostrophe so that it is shown as the text it is. Rows end in CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace datos {

// Standard output (or any stream) written in large pieces. Once a write fails,
// nothing more is written and fallo() keeps the errno.
class Salida {
 public:
  static constexpr std::size_t kCapacidad = 64 * 1024;

  explicit Salida(std::FILE* destino);
  Salida(const Salida&) = delete;
  Salida& operator=(const Salida&) = delete;

  // Room for `cuantos` more bytes (at most kCapacidad), written straight into
  // the buffer; usado() then says how many were put there.
  char* reservar(std::size_t cuantos) {
    if (kCapacidad - largo_ < cuantos) vaciar();
    return buffer_.get() + largo_;
  }
  void usado(std::size_t cuantos) noexcept { largo_ += cuantos; }

  void poner(std::string_view texto) {
    if (texto.size() > kCapacidad - largo_) return ponerPorPartes(texto);
    std::memcpy(buffer_.get() + largo_, texto.data(), texto.size());
    largo_ += texto.size();
  }
  void poner(char c) {
    *reservar(1) = c;
    usado(1);
  }

  // Writes out what is held and flushes the stream; false when any write has
  // failed.
  bool terminar();
  int fallo() const noexcept { return numeroError_; }  // errno of the failed write, or 0

 private:
  void vaciar();
  void ponerPorPartes(std::string_view texto);

  std::FILE* destino_;
  std::unique_ptr<char[]> buffer_;
  std::size_t largo_ = 0;
  int numeroError_ = 0;
};

// The longest field a stored text can make: every byte two bytes of UTF-8,
// every one of them a quote doubled, the apostrophe and the enclosing quotes.
constexpr std::size_t largoMaximoCampo(std::size_t bytes) {
  return 4 * bytes + 4;
}

// Writes the Latin-1 text in `campo` (its bytes up to the first zero, or all
// `ancho` of them) as one CSV field at `destino`, which has room for
// largoMaximoCampo(ancho) bytes, and returns the field's length.
std::size_t codificarTexto(const char* campo, std::size_t ancho, char separador, char* destino);

// The same, as a string.
std::string campoDeTexto(std::string_view texto, char separador);

// Rows of fields, separated by `separador`.
class EscritorCsv {
 public:
  EscritorCsv(Salida& salida, char separador) noexcept
      : salida_(salida),
        separador_(separador),
        coma_(separador == ';' ? ',' : '.'),
        separadorEnNumeros_(separador == '-' || separador == coma_) {}

  // A stored text field: its bytes up to the zero, or all `ancho` of them.
  void texto(const char* campo, std::size_t ancho);
  void texto(const unsigned char* campo, std::size_t ancho) {
    texto(reinterpret_cast<const char*>(campo), ancho);
  }
  template <std::size_t N>
  void texto(const char (&campo)[N]) {
    texto(campo, N);
  }
  void texto(std::string_view latin1) { texto(latin1.data(), latin1.size()); }
  void entero(std::int64_t valor);
  // A number of tenths, with one decimal: a comma where the separator is ';'
  // (the decimal mark of the spreadsheets that want that separator), else a
  // point.
  void decimas(std::int64_t valor);
  void finDeFila();
  void encabezado(std::initializer_list<std::string_view> nombres);

 private:
  // Where the next field goes, after its separator; `largo` counts the
  // separator.
  char* empezarCampo(std::size_t largoMaximo, std::size_t& largo);
  void numero(const char* digitos, std::size_t largo);

  Salida& salida_;
  char separador_;
  char coma_;
  bool separadorEnNumeros_;  // whether a number can hold the separator
  bool primero_ = true;      // no field yet on this row
};

}  // namespace datos
