// The seam between alumnos-datos and the platform it runs on, which
// datos/posix/ and datos/windows/ each provide in a file of the same name,
// sistema.cpp: standard input, output and error, a whole file read, and the
// cause of a failure (which motivo.cpp puts in words). What goes out is
// bytes, written as they are on every platform: nothing translates line
// ends, so a CSV row ends in CR LF and a report line in LF wherever the
// program runs, to a file, a pipe or a console.
#pragma once

#include <cstddef>
#include <cstdint>
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

// What went wrong, as the tool tells it.
enum class Causa : std::uint8_t {
  otra,  // none the tool has words for: told by its number
  noExiste,
  sinPermiso,
  esDirectorio,
  noEsArchivoComun,
  entradaSalida,
  discoLleno,
  cuotaLlena,
  sinMemoria,
  tuberiaCerrada,  // the program reading the output has ended
  noAbierta,       // the output was closed when the tool started
  soloLectura,
  noEsCarpeta,
  nombreLargo,
  nombreNoValido,
  demasiadosEnlaces,
  demasiadosAbiertos,
  demasiadoGrande,
  enUsoPorOtroPrograma,
  yaExiste,
  otroDisco,
  sinDispositivo,
  redPerdida,
  interrumpido,
  carpetaNoVacia,
  noPermitido,  // the file system cannot do it
  sinCerrojos,
};

// The cause of the system's error number; `archivo` is the file that could
// not be read or written, or nullptr for the output.
Causa causaDe(int numeroError, const char* archivo);

// Why a read or a write failed, in a few Spanish words ("error 1234 del
// sistema" for a cause the tool has no words for).
std::string motivo(int numeroError, const char* archivo);

}  // namespace datos::sistema
