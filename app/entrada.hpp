// Reading what the operator types: validated fields with their budget of
// wrong entries, and keys and lines that end the program when input ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/estado.hpp"

// Letters and digits are the ASCII ones only.
inline bool esDigito(int c) {
  return c >= '0' && c <= '9';
}
inline bool esLetra(int c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Reads a line into lineaEntrada and checks every character against `modo`.
// A wrong line counts in errores; the fourth ends the program after a notice.
void leerDato(ModoDato modo);

// The line as a decimal number: empty gives 0; too large for 32 bits stops at
// the nearest limit (every field's range then refuses it).
std::int32_t aNumero(const char* linea);

// A numeric field: a fresh budget, then prompt at (column, row) until a valid
// line whose value lies in [minimo, maximo]. Values out of range never count.
std::int32_t pedirNumero(int column, int row, const char* prompt, std::int32_t minimo,
                         std::int32_t maximo);

// A name field: a fresh budget, then prompt at (column, row) until a line of
// letters no longer than `largoMaximo`; returns it (it is lineaEntrada). A
// line too long for its field is asked again and never counts.
const char* pedirNombre(int column, int row, const char* prompt, std::size_t largoMaximo);

// Keys and lines for the screens: the console's readKey, readKeyEcho and
// readLine, except that the end of input ends the program as option 0 does.
int leerTecla();
int leerTeclaEco();
void leerLinea(char* destino, std::size_t capacidad);

// Ends the program with status 0: terminal restored, files closed by the exit.
[[noreturn]] void terminarPrograma();
