// CSV as spreadsheets and RFC 4180 readers take it, written through one
// fixed buffer.
//
// Stored texts are single-byte Latin-1; a field comes out as UTF-8. Control
// bytes (0x01-0x1F, 0x7F and Latin-1's own controls 0x80-0x9F) become
// spaces, so no field ever holds a line end. A text whose first character
// after any blanks is = + - or @, which a spreadsheet would run as a formula
// (some trim the blanks first), gets a leading apostrophe so that it is shown
// as the text it is. A field holding the separator (the apostrophe among its
// characters) or a quote is enclosed in quotes with its quotes doubled. Rows
// end in CR LF.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace datos {

// Standard output (or anywhere else) written in large pieces. Once a write
// fails, nothing more is written and fallo() keeps the system's error number.
class Salida {
 public:
  static constexpr std::size_t kCapacidad = 64 * 1024;
  // Writes every byte it is given: 0, or the system's error number.
  using Destino = std::function<int(std::string_view bytes)>;

  explicit Salida(Destino destino);
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

  // Writes out what is held; false when any write has failed.
  bool terminar();
  int fallo() const noexcept { return numeroError_; }  // the failed write's error number, or 0

 private:
  void vaciar();
  void ponerPorPartes(std::string_view texto);

  Destino destino_;
  std::unique_ptr<char[]> buffer_;
  std::size_t largo_ = 0;
  int numeroError_ = 0;
};

// Control codes: 0x00-0x1F, 0x7F and Latin-1's own 0x80-0x9F.
constexpr bool esControl(unsigned char c) {
  return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

// What a spreadsheet may trim from the start of a field: spaces, the no-break
// space and control codes.
constexpr bool esBlanco(char32_t c) {
  return c == ' ' || c == 0xA0 || (c < 0x100 && esControl(static_cast<unsigned char>(c)));
}

constexpr bool esFormula(char32_t c) {
  return c == '=' || c == '+' || c == '-' || c == '@';
}

// Whether a spreadsheet would take the text (Latin-1 bytes, or characters)
// for a formula: its first character after any blanks starts one.
template <class C>
constexpr bool pareceFormula(std::basic_string_view<C> texto) {
  for (const C c : texto) {
    const auto caracter = static_cast<char32_t>(static_cast<std::make_unsigned_t<C>>(c));
    if (!esBlanco(caracter)) return esFormula(caracter);
  }
  return false;
}

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

namespace detalle {

// The bytes of `w` that keep a text from being written as it is stored:
// below 0x20 (its terminating zero among them), above 0x7E, the separator
// (every byte of `separadores`) and the quote. The lowest byte flagged is
// always one of them; bytes above it may be flagged wrongly.
inline std::uint64_t especiales(std::uint64_t w, std::uint64_t separadores) {
  constexpr std::uint64_t kUnos = 0x0101010101010101u;
  constexpr std::uint64_t kAltos = 0x8080808080808080u;
  auto ceros = [](std::uint64_t x) { return (x - kUnos) & ~x & kAltos; };
  const std::uint64_t menores = (w - kUnos * 0x20) & ~w & kAltos;
  const std::uint64_t mayores = ((w + kUnos * (0x7F - 0x7E)) | w) & kAltos;
  return menores | mayores | ceros(w ^ separadores) | ceros(w ^ (kUnos * '"'));
}

// Where the first such byte of a W-byte field lies, W when there is none,
// eight bytes at a time (the last eight overlapping the ones before).
template <std::size_t W>
std::size_t primerEspecial(const char* campo, std::uint64_t separadores) {
  static_assert(W >= 8 && std::endian::native == std::endian::little);
  for (std::size_t i = 0; i < W; i += 8) {
    const std::size_t desde = i + 8 <= W ? i : W - 8;
    std::uint64_t w;
    std::memcpy(&w, campo + desde, 8);
    if (const std::uint64_t e = especiales(w, separadores)) {
      return desde + static_cast<std::size_t>(std::countr_zero(e)) / 8;
    }
  }
  return W;
}

}  // namespace detalle

// Rows of fields, separated by `separador`.
class EscritorCsv {
 public:
  // With `marcaUtf8`, the first header row is preceded by UTF-8's byte-order
  // mark, by which a spreadsheet knows the encoding.
  EscritorCsv(Salida& salida, char separador, bool marcaUtf8 = false) noexcept
      : salida_(salida),
        marcaUtf8_(marcaUtf8),
        separador_(separador),
        separadores_(0x0101010101010101u * static_cast<unsigned char>(separador)),
        coma_(separador == ';' ? ',' : '.'),
        separadorEnNumeros_(separador == '-' || separador == coma_) {}

  // A stored text field of W bytes: its bytes up to the zero, or all of them.
  template <std::size_t W>
  void texto(const char* campo) {
    std::size_t largo;
    char* destino = empezarCampo(largoMaximoCampo(W), largo);
    // Nearly every stored text is printable ASCII with no separator or quote
    // in it, and goes out as it is: the whole field is copied, and only the
    // text kept.
    if constexpr (W >= 8 && std::endian::native == std::endian::little) {
      const std::size_t fin = detalle::primerEspecial<W>(campo, separadores_);
      // A blank first, or a formula's sign, needs a closer look.
      if ((fin == W || campo[fin] == '\0') &&
          (fin == 0 || (campo[0] != ' ' && !esFormula(static_cast<unsigned char>(campo[0]))))) {
        std::memcpy(destino + largo, campo, W);
        salida_.usado(largo + fin);
        return;
      }
    }
    salida_.usado(largo + codificarTexto(campo, W, separador_, destino + largo));
  }
  template <std::size_t W>
  void texto(const unsigned char* campo) {
    texto<W>(reinterpret_cast<const char*>(campo));
  }
  template <std::size_t W>
  void texto(const char (&campo)[W]) {
    texto<W>(static_cast<const char*>(campo));
  }
  // Any text: its bytes up to a zero, if it holds one.
  void texto(std::string_view latin1);

  void entero(std::int64_t valor) {
    // Ages, credits and grades: one or two digits, which no separator is.
    if (valor >= 0 && valor < 100) {
      std::size_t largo;
      char* destino = empezarCampo(2, largo);
      if (valor >= 10) destino[largo++] = static_cast<char>('0' + valor / 10);
      destino[largo++] = static_cast<char>('0' + valor % 10);
      salida_.usado(largo);
      return;
    }
    numeroLargo(valor);
  }
  // A number of tenths, with one decimal: a comma where the separator is ';'
  // (the decimal mark of the spreadsheets that want that separator), else a
  // point.
  void decimas(std::int64_t valor);
  void finDeFila() {
    std::memcpy(salida_.reservar(2), "\r\n", 2);
    salida_.usado(2);
    primero_ = true;
  }
  void encabezado(std::span<const std::string_view> nombres);
  void encabezado(std::initializer_list<std::string_view> nombres) {
    encabezado(std::span(nombres.begin(), nombres.size()));
  }

 private:
  // Where the next field goes, after its separator; `largo` counts the
  // separator.
  char* empezarCampo(std::size_t largoMaximo, std::size_t& largo) {
    // One reservation for the separator and the field.
    char* destino = salida_.reservar(1 + largoMaximo);
    largo = 0;
    if (!primero_) destino[largo++] = separador_;
    primero_ = false;
    return destino;
  }
  void numero(const char* digitos, std::size_t largo);
  void numeroLargo(std::int64_t valor);

  Salida& salida_;
  bool marcaUtf8_;  // still to be written before the header
  char separador_;
  std::uint64_t separadores_;  // the separator in every byte
  char coma_;
  bool separadorEnNumeros_;  // whether a number can hold the separator
  bool primero_ = true;      // no field yet on this row
};

}  // namespace datos
