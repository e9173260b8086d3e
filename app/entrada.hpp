// Reading what the clerk types: validated fields with their budget of
// wrong entries, and keys and lines that end the program when input ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/estado.hpp"
#include "store/reglas.hpp"

// Reads a line into lineaEntrada and checks every character against `modo`,
// a NUL as much as any other. A wrong line counts in errores; the fourth ends
// the program after a notice. A line too long for lineaEntrada is never cut
// into another value: it is not judged, datoValido is false and nothing is
// counted, so the field is asked again as for a value out of range.
void leerDato(ModoDato modo);

// The line as a decimal number: empty gives 0; too large for 32 bits stops at
// the nearest limit (every field's range then refuses it).
using store::aNumero;

// A numeric field: a fresh budget, then prompt at (column, row) until a valid
// line whose value lies in [minimo, maximo]. Values out of range never count.
std::int32_t pedirNumero(int column, int row, const char* prompt, std::int32_t minimo,
                         std::int32_t maximo);

// A name field: a fresh budget, then prompt at (column, row) until a line of
// letters no longer than `largoMaximo`; returns it (it is lineaEntrada). A
// line too long for its field is asked again and never counts.
const char* pedirNombre(int column, int row, const char* prompt, std::size_t largoMaximo);

// Keys and lines for the screens: the console's readKey and readLine, except
// that the end of input ends the program as option 0 does. leerTecla is one
// code, as readKey gives it: for the codes typed key by key, where every key
// (each code of an extended key) counts.
int leerTecla();

// A line as leerLinea keeps it: its text, NULs included, up to what the
// buffer holds, and whether more was typed than that.
struct Linea {
  std::string_view texto;
  bool cortada;
};
Linea leerLinea(char* destino, std::size_t capacidad);

// Waits and questions take one key press. An extended key is one press: its
// 0 and its second code are taken together, so that no code is left pending
// for a later wait to end on or a later question to take as its answer.

// A wait for a key: one key press, without echo or echoed as readKeyEcho
// draws it (an extended key as its two codes).
void esperarTecla();
void esperarTeclaEco();

// How a question shows the key that answers it.
enum class EcoRespuesta : std::uint8_t {
  celda,      // drawn as typed in the text attribute, as readKeyEcho draws it
  mayuscula,  // written to the stream upper-cased
};

// An answer to a question: one key press, echoed, then upper-cased (a-z
// only). An extended key is no answer: it gives 0 and shows nothing, since
// its second code drawn as a letter (Delete's is 'S') would read as one.
int leerRespuesta(EcoRespuesta eco);

// An answer upper-cased: a-z become A-Z, every other code stays as it is.
int mayuscula(int tecla);

// Ends the program with status 0: terminal restored, files closed by the exit.
[[noreturn]] void terminarPrograma();
