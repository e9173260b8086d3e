#include "app/entrada.hpp"
#include "console/console.hpp"
#include "screens/comun.hpp"
#include "screens/pantallas.hpp"
#include "store/archivos.hpp"

using namespace console;

namespace {

const char* aviso(store::Recuperacion recuperacion) {
  switch (recuperacion) {
    case store::Recuperacion::nadaQueHacer:
      break;
    case store::Recuperacion::recuperado:
      return " Se recupero ALUMNO.txt desde TEMPORAL.txt ...!!! ";
    case store::Recuperacion::dejado:
      return " No se recupero TEMPORAL.txt: no contiene alumnos ...!!! ";
    case store::Recuperacion::ocupado:
      return " No se recupero TEMPORAL.txt: ya existe ALUMNO.txt ...!!! ";
  }
  return nullptr;
}

}  // namespace

void avisarRecuperacion(store::Recuperacion recuperacion) {
  const char* texto = aviso(recuperacion);
  if (texto == nullptr) return;
  // A scratch file left where it is is said too: a student file made later
  // beside it would hide it, and the next deletion would replace it.
  clearScreen();
  moveCursor(10, 12);
  printText(texto);
  esperarTecla();
}

void recuperarAlumnosAlIniciar() {
  avisarRecuperacion(store::recuperarAlumnos());
}
