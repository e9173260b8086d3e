#include "app/entrada.hpp"
#include "console/console.hpp"
#include "screens/pantallas.hpp"
#include "store/archivos.hpp"

using namespace console;

void recuperarAlumnosAlIniciar() {
  bool recuperado = false;
  // A failure leaves both files as they were: the program starts as usual.
  (void)store::recuperarAlumnos(recuperado);
  if (!recuperado) return;
  clearScreen();
  moveCursor(10, 12);
  printText(" Se recupero ALUMNO.txt desde TEMPORAL.txt ...!!! ");
  esperarTecla();
}
