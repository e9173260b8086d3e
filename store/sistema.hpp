// The seam between the record files' rules (store/archivos.cpp) and the
// platform's file system, which store/posix/ and store/windows/ each provide
// in a file of the same name, sistema.cpp. Records are raw bytes on every
// platform: nothing here translates line ends or stops at any byte.
//
// Failures carry the system's own error number (errno on POSIX, the
// GetLastError code on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "store/archivos.hpp"

namespace store::sistema {

using detalle::Descriptor;
using detalle::Manejador;

// The error number of the last call that failed.
int ultimoError() noexcept;

// Called first in main: a standard input, output or error that was closed
// when the program started is filled with a descriptor that fails its reads
// (or writes) as a closed one does, so that no record file the program opens
// gets its number and takes the screen's or a report's bytes.
void reservarEstandar() noexcept;

using detalle::Apertura;

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
bool identidad(Manejador manejador, detalle::Identidad& identidad) noexcept;
// One read or write at an offset, not moving any file position; a read of
// 0 bytes is the end of the file.
bool leerEn(Manejador manejador, unsigned char* bytes, std::size_t cantidad,
            std::int64_t desplazamiento, std::size_t& leidos) noexcept;
bool escribirEn(Manejador manejador, const unsigned char* bytes, std::size_t cantidad,
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

}  // namespace store::sistema
