// alumnos: a school's students, courses and grades, kept in record files in
// the current directory and entered through a menu at the terminal.
#include <csignal>
#include <string>

#include "app/entrada.hpp"
#include "app/menu.hpp"
#include "console/console.hpp"
#include "screens/pantallas.hpp"
#include "store/sistema.hpp"

namespace {

// Takes the terminal for the run and gives it back on the way out of main;
// the other ways out (terminarPrograma) give it back themselves.
struct Consola {
  Consola() { console::openConsole(); }
  ~Consola() { console::closeConsole(); }
  Consola(const Consola&) = delete;
  Consola& operator=(const Consola&) = delete;
};

// The screens are drawn for 80 x 25: in a smaller window they wrap into each
// other and a clerk can misread them, so the clerk is told before the menu.
// A size that could not be read is taken as 80 x 25; a script is not told.
void avisarSiLaVentanaEsPequena() {
  const console::ConsoleScreen& pantalla = console::consoleScreen();
  const int columnas = pantalla.screenWidth;
  const int filas = pantalla.screenHeight;
  if (!console::isInteractive() || columnas == 0 || filas == 0) return;
  if (columnas >= 80 && filas >= 25) return;
  console::clearScreen();
  console::moveCursor(1, 1);
  const std::string aviso = " Ventana de " + std::to_string(columnas) + " x " +
                            std::to_string(filas) + ": el programa necesita 80 x 25 o mas ...!!! ";
  console::printText(aviso.c_str());
  esperarTecla();
}

}  // namespace

int main() {
  store::sistema::reservarEstandar();
#ifdef SIGXFSZ
  // A file-size limit makes a write fail, which the screens report, rather
  // than end the program in the middle of a record.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  Consola consola;
  avisarSiLaVentanaEsPequena();
  recuperarAlumnosAlIniciar();
  ejecutarMenu();
  return 0;
}
