// alumnos: a school's students, courses and grades, kept in record files in
// the current directory and entered through a menu at the terminal.
#include <csignal>

#include "app/menu.hpp"
#include "console/console.hpp"
#include "screens/pantallas.hpp"

namespace {

// Takes the terminal for the run and gives it back on the way out of main;
// the other ways out (terminarPrograma) give it back themselves.
struct Consola {
  Consola() { console::openConsole(); }
  ~Consola() { console::closeConsole(); }
  Consola(const Consola&) = delete;
  Consola& operator=(const Consola&) = delete;
};

}  // namespace

int main() {
#ifdef SIGXFSZ
  // A file-size limit makes a write fail, which the screens report, rather
  // than end the program in the middle of a record.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  Consola consola;
  recuperarAlumnosAlIniciar();
  ejecutarMenu();
  return 0;
}
