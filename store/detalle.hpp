// What the store's own files share and nothing outside store/ uses: the
// open that runs the student file's recovery, and the wait for a file's lock.
#pragma once

#include "store/archivos.hpp"
#include "store/sistema.hpp"

namespace store::detalle {

// sistema::abrir, but before the student file is created the start-up
// recovery (recuperarAlumnos) is run, and its outcome left in `recuperacion`
// when given.
Resultado abrir(const char* nombre, Apertura apertura, Descriptor& descriptor,
                Recuperacion* recuperacion = nullptr);

// Takes the lock of the file `nombre` open on `descriptor` as `modo` says,
// waiting for other copies up to kEsperaMaxima. Once it is taken, the name
// must still lead to the file locked: the copy that held the lock may have
// put a new file in the old one's place, which is then opened (as `apertura`
// says, the recovery's outcome left in `recuperacion`) and locked in its
// turn. On failure no lock is held.
Resultado bloquear(const char* nombre, Apertura apertura, Descriptor& descriptor,
                   Recuperacion* recuperacion = nullptr,
                   sistema::Modo modo = sistema::Modo::exclusivo);

}  // namespace store::detalle
