// CSV as spreadsheets save it, read as RFC 4180 says: fields separated by
// one character, a field in double quotes may hold the separator, line
// ends and quotes (doubled), rows end in CR LF, LF or a lone CR, and the last
// row may end without one. Rows are read from the whole file in memory.
//
// The file's bytes are UTF-8 when every one of them belongs to a well-formed
// UTF-8 character (a byte-order mark at the start is dropped), and
// Windows-1252 otherwise, as a spreadsheet's plain "CSV" is on a Spanish
// Windows. Separators, quotes and line ends are the same bytes in both, so
// rows are split first and a field's characters decoded only when wanted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace datos {

enum class Codificacion : std::uint8_t { utf8, windows1252 };

// A CSV file's bytes without a byte-order mark, and how they stand for
// characters.
struct TextoCsv {
  std::string_view bytes;
  Codificacion codificacion;
};
TextoCsv prepararCsv(std::string_view bytes);

// The characters `bytes` stand for in `codificacion`, after those already
// in `caracteres`.
void decodificar(std::string_view bytes, Codificacion codificacion, std::u32string& caracteres);

// The one of ',', ';' and tab that the first line holding anything uses
// most outside quotes; ',' when it uses none of them.
char separadorDe(std::string_view bytes);

// What breaks a row's quoting.
enum class ErrorCsv : std::uint8_t {
  ninguno,
  comillasSinCerrar,  // a quoted field still open at the end of the file
  textoTrasComillas,  // a closing quote followed by more than a separator or a line end
  comillasEnCampo,    // a quote inside a field that does not start with one
};

struct FilaCsv {
  std::size_t linea = 0;            // the line the row starts on, from 1
  std::vector<std::string> campos;  // their bytes, quotes taken off
  ErrorCsv error = ErrorCsv::ninguno;
  std::size_t campoDelError = 0;  // the field, from 0, where the quoting broke
};

class LectorCsv {
 public:
  LectorCsv(std::string_view bytes, char separador) noexcept
      : bytes_(bytes), separador_(separador) {}

  // The next row that holds anything: rows whose fields are all empty or
  // spaces are skipped. False at the end of the file.
  bool siguiente(FilaCsv& fila);

 private:
  // Reads one row, blank or not; false at the end of the file.
  bool leerFila(FilaCsv& fila);
  // Takes a line end at the current byte, if there is one.
  bool finDeLinea();

  std::string_view bytes_;
  char separador_;
  std::size_t posicion_ = 0;
  std::size_t linea_ = 1;  // the line the current byte is on
};

}  // namespace datos
