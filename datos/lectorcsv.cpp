#include "datos/lectorcsv.hpp"

#include <algorithm>
#include <array>

#include "console/utf8.hpp"

namespace datos {
namespace {

constexpr std::string_view kMarcaUtf8 = "\xEF\xBB\xBF";

bool esUtf8(std::string_view bytes) {
  console::Utf8Decoder decoder;
  for (const char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    if (decoder.pending()) {
      if (decoder.next(c) == console::Utf8Decoder::Step::broken) return false;
    } else if (c >= 0x80 && !decoder.begin(c)) {
      return false;
    }
  }
  return !decoder.pending();
}

// Windows-1252's characters for 0x80-0x9F; the five codes it leaves unused
// stand for the Latin-1 control of the same number, as Windows reads them.
constexpr std::array<char16_t, 32> kWindows1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

TextoCsv prepararCsv(std::string_view bytes) {
  if (bytes.starts_with(kMarcaUtf8)) bytes.remove_prefix(kMarcaUtf8.size());
  return {bytes, esUtf8(bytes) ? Codificacion::utf8 : Codificacion::windows1252};
}

void decodificar(std::string_view bytes, Codificacion codificacion, std::u32string& caracteres) {
  console::Utf8Decoder decoder;
  for (const char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    if (c < 0x80) {
      caracteres += c;
    } else if (codificacion == Codificacion::windows1252) {
      caracteres += c < 0xA0 ? kWindows1252[c - 0x80] : c;
    } else if (decoder.pending()) {
      // The whole file was found well-formed: a character ends or goes on.
      if (decoder.next(c) == console::Utf8Decoder::Step::done) caracteres += decoder.codePoint();
    } else {
      (void)decoder.begin(c);
    }
  }
}

char separadorDe(std::string_view bytes) {
  // The first line with anything but line ends on it.
  const std::size_t inicio = std::min(bytes.find_first_not_of("\r\n"), bytes.size());
  std::size_t comas = 0, puntosYComa = 0, tabuladores = 0;
  bool entreComillas = false;
  for (std::size_t i = inicio; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '"') {
      entreComillas = !entreComillas;
    } else if (!entreComillas) {
      if (c == '\r' || c == '\n') break;
      comas += c == ',';
      puntosYComa += c == ';';
      tabuladores += c == '\t';
    }
  }
  if (puntosYComa > comas && puntosYComa >= tabuladores) return ';';
  if (tabuladores > comas && tabuladores > puntosYComa) return '\t';
  return ',';
}

bool LectorCsv::finDeLinea() {
  if (posicion_ >= bytes_.size()) return false;
  if (bytes_[posicion_] == '\n') {
    ++posicion_;
  } else if (bytes_[posicion_] == '\r') {
    ++posicion_;
    if (posicion_ < bytes_.size() && bytes_[posicion_] == '\n') ++posicion_;
  } else {
    return false;
  }
  ++linea_;
  return true;
}

bool LectorCsv::leerFila(FilaCsv& fila) {
  if (posicion_ >= bytes_.size()) return false;
  fila.linea = linea_;
  fila.error = ErrorCsv::ninguno;
  fila.campos.clear();
  auto fallar = [&](ErrorCsv error) {
    if (fila.error == ErrorCsv::ninguno) {
      fila.error = error;
      fila.campoDelError = fila.campos.size() - 1;
    }
  };
  for (;;) {
    std::string& campo = fila.campos.emplace_back();
    if (posicion_ < bytes_.size() && bytes_[posicion_] == '"') {
      ++posicion_;
      for (;;) {
        if (posicion_ >= bytes_.size()) {
          fallar(ErrorCsv::comillasSinCerrar);
          return true;
        }
        const char c = bytes_[posicion_];
        if (c == '"') {
          ++posicion_;
          if (posicion_ < bytes_.size() && bytes_[posicion_] == '"') {
            campo += '"';
            ++posicion_;
            continue;
          }
          break;
        }
        // A line end inside quotes is the field's own, and still a line.
        const std::size_t antes = posicion_;
        if (finDeLinea()) {
          campo.append(bytes_.substr(antes, posicion_ - antes));
        } else {
          campo += c;
          ++posicion_;
        }
      }
      // Whatever follows the closing quote up to the field's end is kept
      // out of it.
      while (posicion_ < bytes_.size() && bytes_[posicion_] != separador_ &&
             bytes_[posicion_] != '\r' && bytes_[posicion_] != '\n') {
        fallar(ErrorCsv::textoTrasComillas);
        ++posicion_;
      }
    } else {
      const std::size_t inicio = posicion_;
      while (posicion_ < bytes_.size() && bytes_[posicion_] != separador_ &&
             bytes_[posicion_] != '\r' && bytes_[posicion_] != '\n') {
        if (bytes_[posicion_] == '"') fallar(ErrorCsv::comillasEnCampo);
        ++posicion_;
      }
      campo.assign(bytes_.substr(inicio, posicion_ - inicio));
    }
    if (posicion_ < bytes_.size() && bytes_[posicion_] == separador_) {
      ++posicion_;
      continue;
    }
    (void)finDeLinea();
    return true;
  }
}

bool LectorCsv::siguiente(FilaCsv& fila) {
  while (leerFila(fila)) {
    const bool vacia =
        fila.error == ErrorCsv::ninguno &&
        std::all_of(fila.campos.begin(), fila.campos.end(), [](const std::string& c) {
          return c.find_first_not_of(' ') == std::string::npos;
        });
    if (!vacia) return true;
  }
  return false;
}

}  // namespace datos
