#include "app/menu.hpp"

#include <cstdint>

#include "app/entrada.hpp"
#include "app/estado.hpp"
#include "console/console.hpp"
#include "screens/pantallas.hpp"

using namespace console;

namespace {

struct OpcionMenu {
  int fila;
  const char* numero;    // drawn in the terminal's own colours
  const char* etiqueta;  // drawn in bright white
};

constexpr OpcionMenu kOpciones[] = {
    {6, " < 1  >", " Ingresar alumnos"},
    {8, " < 2  >", " Ingresar cursos"},
    {10, " < 3  >", " Ingresar notas de alumnos"},
    {12, " < 4  >", " Reporte de alumnos"},
    {14, " < 5  >", " Eliminar "},
    {16, " < 0  >", " Finalizar "},
};

void dibujarMenu() {
  clearByCommand("cls");
  setTextColor(15);
  moveCursor(10, 3);
  consoleWrite("           BASE DE DATOS DE ALUMNOS");
  moveCursor(10, 4);
  printText("           ________________________");
  for (const OpcionMenu& opcion : kOpciones) {
    moveCursor(15, opcion.fila);
    printText(opcion.numero);
    setTextColor(15);
    consoleWrite(opcion.etiqueta);
  }
  moveCursor(20, 19);
  printText(" < Edite Opcion > ==> ");
  clearToEndOfLine();
}

}  // namespace

int menuPrincipal() {
  EstadoPrograma& e = estado();
  for (;;) {
    dibujarMenu();
    // The menu keeps the count of wrong entries left by the last field read.
    leerDato(kSoloDigitos);
    if (!e.datoValido) continue;
    std::int32_t opcion = aNumero(e.lineaEntrada);
    if (opcion >= 0 && opcion <= 5) return opcion;
  }
}

void ejecutarMenu() {
  for (;;) {
    switch (menuPrincipal()) {
      case 0:
        return;
      case 1:
        ingresarAlumnos();
        break;
      case 2:
        ingresarCursos();
        break;
      case 3:
        ingresarNotas();
        break;
      case 4:
        reporteAlumnos();
        break;
      case 5:
        eliminarAlumno();
        break;
    }
  }
}
