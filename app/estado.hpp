// The state the screens share for the whole run.
#pragma once

#include <cstddef>
#include <cstdint>

#include "store/registros.hpp"

// What leerDato accepts on a line: 'd' digits only, 'l' letters only.
using ModoDato = char;
inline constexpr ModoDato kSoloDigitos = store::kDigito;
inline constexpr ModoDato kSoloLetras = store::kLetra;

// Longest line kept, terminator included. Every field a line feeds is far
// shorter; a longer line is never taken as a value (leerDato).
inline constexpr std::size_t kCapacidadLinea = 256;

struct EstadoPrograma {
  char lineaEntrada[kCapacidadLinea];   // the line just read by leerDato
  bool datoValido;                      // whether that line passed its mode's check
  std::int32_t errores;                 // wrong entries so far; the fourth ends the program
  char claveEliminar[kCapacidadLinea];  // the code typed on the deletion screen
  store::Alumno alumno;                 // record buffers: each record read or about to be
  store::Curso curso;                   // appended passes through these, and they are
  store::NotaAlumno nota;               // never cleared between records
};

// The one instance; starts zeroed.
EstadoPrograma& estado();
