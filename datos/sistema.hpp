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

#include "store/archivos.hpp"

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

// A name the user typed, safe to show on a line: control characters as '?'.
std::string mostrable(std::string_view texto);

// The backup's folders and copies (respaldar), named as the user gave the
// folder that holds them; failures as the system's error numbers.

// The name of `nombre` inside the folder `carpeta`.
std::string dentroDe(const std::string& carpeta, const char* nombre);
// 0 when `carpeta` is a folder; otherwise why it cannot hold one.
int comprobarCarpeta(const std::string& carpeta);
// A new folder, or a new file open for writing: never one already there
// (yaEsta then tells), so that two backups never share one.
int crearCarpeta(const std::string& nombre);
int crearArchivo(const std::string& nombre, store::detalle::Descriptor& descriptor);
// A copy just flushed, opened to be read back from the disk rather than from
// the system's cache where the system allows it. It is read kAlineacion
// bytes at a time or a multiple of them, into memory aligned to kAlineacion.
inline constexpr std::size_t kAlineacion = 4096;
int abrirParaComprobar(const std::string& nombre, store::detalle::Descriptor& descriptor);
// `origen` takes the name `destino` in one step, never in place of anything
// that has it already (yaEsta then tells).
int renombrarSinPisar(const std::string& origen, const std::string& destino);
// Whether a failure above was the name being taken.
bool yaEsta(int numeroError) noexcept;
// Removes what an unfinished backup made; nothing more can be done when it fails.
void borrarArchivo(const std::string& nombre) noexcept;
void borrarCarpeta(const std::string& nombre) noexcept;

}  // namespace datos::sistema
