#include "app/entrada.hpp"
#include "console/console.hpp"
#include "screens/pantallas.hpp"
#include "store/archivos.hpp"

using namespace console;

void recuperarAlumnosAlIniciar() {
  const store::Recuperacion recuperacion = store::recuperarAlumnos();
  if (recuperacion == store::Recuperacion::nadaQueHacer) return;
  // A scratch file left where it is is said too: a student file made later
  // beside it would hide it, and the next deletion would replace it.
  clearScreen();
  moveCursor(10, 12);
  printText(recuperacion == store::Recuperacion::recuperado
                ? " Se recupero ALUMNO.txt desde TEMPORAL.txt ...!!! "
                : " No se recupero TEMPORAL.txt: no contiene alumnos ...!!! ");
  esperarTecla();
}
