// Everything the programs need from the system's files, in one table: the
// record files' rules (store/) and alumnos-datos (datos/) reach the system
// only through these calls, which store/posix/ and store/windows/ each
// provide in files of the same names:
//
//   sistema.cpp   open, read and write at an offset, flush, cut back, replace,
//                 the standard streams
//   cerrojo.cpp   the lock, and where a name leads now
//   carpetas.cpp  the backup's folders and files
//   causas.cpp    what a failure's error number means
//
// Bytes go as they are on every platform: nothing here translates line ends
// or stops at any byte. Failures carry the system's own error number (errno
// on POSIX, the GetLastError code on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "store/descriptor.hpp"

namespace store::sistema {

// The error number of the last call that failed.
int ultimoError() noexcept;

// Called first in main: a standard input, output or error that was closed
// when the program started is filled with a descriptor that fails its reads
// (or writes) as a closed one does, so that no record file the program opens
// gets its number and takes the screen's or a report's bytes.
void reservarEstandar() noexcept;

// Opens a regular file as `apertura` says; a file created is made durable
// (its name flushed), and kept even when that fails. Anything else is a
// failure: noExiste when there is no such file to read or write, noSeAbre
// otherwise.
Resultado abrir(const char* nombre, Apertura apertura, Descriptor& descriptor);
void cerrar(Manejador manejador) noexcept;
// Closes, telling whether the system reported a failed write at the close.
bool cerrarComprobando(Descriptor& descriptor) noexcept;

bool tamano(Manejador manejador, std::int64_t& bytes) noexcept;
// Which file is open on `manejador`.
bool identidad(Manejador manejador, Identidad& identidad) noexcept;
// One read at an offset, not moving any file position; a read of 0 bytes is
// the end of the file.
bool leerEn(Manejador manejador, unsigned char* bytes, std::size_t cantidad,
            std::int64_t desplazamiento, std::size_t& leidos) noexcept;
// Where a stream (standard output, a pipe, a console) writes: at its own position.
inline constexpr std::int64_t kEnCurso = -1;
// Writes all `cantidad` bytes at `desplazamiento` (or kEnCurso), going on
// after partial writes; `escritos` tells how far it got, also on failure.
bool escribirTodo(Manejador manejador, const unsigned char* bytes, std::size_t cantidad,
                  std::int64_t desplazamiento, std::size_t& escritos) noexcept;
// The file's bytes on the disk.
bool sincronizar(Manejador manejador) noexcept;
// Cuts the file back to `bytes`.
bool recortar(Manejador manejador, std::int64_t bytes) noexcept;
// Asks the disk to start writing the first `bytes` without waiting; a hint.
void empezarAGrabar(Manejador manejador, std::int64_t desde, std::int64_t hasta) noexcept;

// A new, empty scratch file `nombre` for writing, made with `origen`'s
// permissions. A stale one is removed first, never written through.
Resultado crearTemporal(const char* nombre, Manejador origen, Descriptor& temporal);
// Removes the scratch file `nombre` this copy made, open on `temporal` or
// already closed, and closes it.
void descartar(const char* nombre, Descriptor& temporal) noexcept;

// The file a name stands for, where the platform has links that lead elsewhere.
std::string archivoReal(const char* nombre);
// `origen`, written and flushed through `nuevo`, takes `destino`'s place in
// one step, and the change to the names is on the disk; renombrar when the
// step fails (then nothing changed), sincronizarDirectorio when only the
// last part failed, escritura when closing `nuevo` reported a failed write.
// `abierto` is the file being replaced, held open (and locked) by the
// caller, or none: kept open through the step where the platform allows it,
// closed first where a file held open cannot be replaced. There, other
// copies that have the old file open for a moment are waited for up to
// kEsperaMaxima (enUso after that, nothing changed), and `nuevo`'s lock
// tells them meanwhile that the file is being replaced (reemplazoEnCurso).
// `nuevo` is closed on success.
Resultado reemplazar(const char* origen, const std::string& destino, Descriptor& abierto,
                     Descriptor& nuevo);

// Whether another copy is replacing the file whose scratch file is
// `temporal` while not holding that file's lock any more (see reemplazar):
// a copy that has just taken the lock must then wait as if it had not.
bool reemplazoEnCurso(const char* temporal) noexcept;

// The signals, or the console's control events, that would end the program
// are held back from retenerSenales to soltarSenales and acted on then: a
// replacement of a file is never cut off half done by them.
void retenerSenales() noexcept;
void soltarSenales() noexcept;

// `origen` takes the name `destino` in one step, only while nothing has that
// name: a file another copy of the program has just made there is never
// replaced. renombrar when the step fails, a name already there among the
// reasons (then nothing changed); as reemplazar, the change is on the disk.
Resultado renombrarSinPisar(const char* origen, const char* destino);

// Makes the latest change to the names in the folder `carpeta` durable; file
// systems that cannot flush a folder count as done.
Resultado sincronizarNombres(const char* carpeta);

// Whether there is anything at all by that name (a dangling link too).
bool hayAlgo(const char* nombre) noexcept;
// What the start-up recovery finds at TEMPORAL.txt: nothing at all; something
// not to be touched (not a regular file, a link, a file with another name
// too); or such a file, then open in `descriptor`.
enum class Hallazgo { ninguno, otraCosa, archivo };
Hallazgo abrirParaRecuperar(const char* nombre, Descriptor& descriptor);

// --- The lock ---
//
// Each file has one lock, taken exclusive by a copy that changes the file
// and shared by one that reads it whole. It is a byte-range lock on one byte
// far past any data: locks that keep reads and writes out of the range they
// cover (as on Windows) then never stand in a reader's way, and every copy
// on every platform locks the same byte. The system takes the lock back when
// its holder closes the file or dies, so a copy killed while holding it
// blocks no other. Waiting for the lock and acting on a replaced file are
// the store's own (archivos.cpp).

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

// --- The standard streams ---

// Writes every byte to standard output, or to standard error: 0, or the
// error number of the write that failed.
int escribirSalida(std::string_view bytes) noexcept;
int escribirErrores(std::string_view bytes) noexcept;

// Every byte of the file `nombre`, or of standard input when it is nullptr,
// into `bytes`, as they are: 0, or the system's error number.
int leerTodo(const char* nombre, std::string& bytes);

// --- The backup's folders and files ---
//
// Named as the clerk gave the folder that holds them; failures as the
// system's error numbers.

// The name of `nombre` inside the folder `carpeta`.
std::string dentroDe(const std::string& carpeta, const char* nombre);
// 0 when `carpeta` is a folder; otherwise why it cannot hold one.
int comprobarCarpeta(const std::string& carpeta);
// A new folder, or a new file open for writing: never one already there
// (yaEsta then tells), so that two backups never share one.
int crearCarpeta(const std::string& nombre);
int crearArchivo(const std::string& nombre, Descriptor& descriptor);
// A copy just flushed, opened to be read back from the disk rather than from
// the system's cache where the system allows it. It is read kAlineacion
// bytes at a time or a multiple of them, into memory aligned to kAlineacion.
inline constexpr std::size_t kAlineacion = 4096;
int abrirParaComprobar(const std::string& nombre, Descriptor& descriptor);
// The folder `origen` takes the name `destino` in one step, never in place
// of anything that has it already (yaEsta then tells).
int renombrarCarpeta(const std::string& origen, const std::string& destino);
// Whether a failure above was the name being taken.
bool yaEsta(int numeroError) noexcept;
// Removes what an unfinished backup made; nothing more can be done when it fails.
void borrarArchivo(const std::string& nombre) noexcept;
void borrarCarpeta(const std::string& nombre) noexcept;

// --- What a failure means ---

enum class Causa : std::uint8_t {
  otra,  // none the programs have words for: told by its number
  noExiste,
  sinPermiso,
  esDirectorio,
  noEsArchivoComun,
  entradaSalida,
  discoLleno,
  cuotaLlena,
  sinMemoria,
  tuberiaCerrada,  // the program reading the output has ended
  noAbierta,       // the output was closed when the program started
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

}  // namespace store::sistema
