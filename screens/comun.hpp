// Pieces that several screens draw and read the same way.
#pragma once

#include <cstdint>
#include <string_view>

namespace store {
struct Resultado;
enum class Recuperacion : std::uint8_t;
}  // namespace store

// Reads a code key by key after `prompt` at (column, row): exactly
// patron.size() keys, each echoed as it arrives, every key counting (there
// is no line editing). Asked again, without limit and without counting a
// wrong entry, until key i is a digit where patron[i] is 'd' and a letter
// where it is 'l'. The keys go to `codigo`, which holds patron.size() bytes.
void leerCodigo(int column, int row, const char* prompt, std::string_view patron, char* codigo);

// Asks `pregunta` at (column, row) until the answer (leerRespuesta: one key
// press, echoed upper-cased) is S or N; returns it. Another key stays beside
// the question asked again; after an extended key the answer's place is blank.
char preguntarSiNo(int column, int row, const char* pregunta);

// The failures the screens report on row 20, each followed by a key.
void avisarQueNoSeAbre(const char* archivo);   // " No se puede abrir el archivo ... "
void avisarQueNoSeGraba(const char* archivo);  // " No se pudo grabar en el archivo ... "
// Another copy of the program kept the file busy for longer than it waits.
void avisarQueEstaEnUso(const char* archivo);  // " Archivo ... en uso, intente mas tarde ... "
// An append that stored nothing: in use, or not stored.
void avisarQueNoSeAgrego(const store::Resultado& resultado, const char* archivo);

// What the start-up recovery says, on a screen of its own, followed by a key
// (nothing when there was nothing to do); shown too where a screen finds the
// student file missing and recovers it before making a new one.
void avisarRecuperacion(store::Recuperacion recuperacion);
