// Option 4: every stored student, in file order, under a ruled heading.
//
// A student goes to row 9 + n on its page. A list longer than the screen is
// shown a page at a time: each page is drawn like a whole list of its size,
// so a list that fits looks as if there were no pages at all. The file is read
// as the pages are drawn, never held whole, and never held open while the
// clerk reads a page: another copy may replace it meanwhile, which the
// listing then says instead of going on in the new file.
#include <algorithm>
#include <cstddef>

#include "app/entrada.hpp"
#include "app/estado.hpp"
#include "console/console.hpp"
#include "screens/comun.hpp"
#include "screens/pantallas.hpp"
#include "store/archivos.hpp"

using namespace console;

namespace {

void dibujarTitulo() {
  clearScreen();
  moveCursor(10, 5);
  setTextColor(15);
  consoleWrite("LISTADO DE REGISTROS DE ALUMNOS ");
}

// Continues from the end of the title: the message lands on row 8, the
// prompt on row 10.
void avisarQueNoExiste() {
  printText("\n\n\n\rNo existe el archivo !!!\n");
  printText("\n\r<<< ... PRESIONE ENTER para continuar >>>");
  esperarTeclaEco();
}

// The heading words and the data columns below them are a column or two
// apart; that is how the listing has always looked.
void dibujarEncabezado() {
  printText("\n\r         _________________________________________________________");
  printText("\n\r         CODIGO          APELLIDO         N O M B R E       EDAD");
  printText("\n\r         _________________________________________________________");
}

// A stored text is shown in full up to its zero, neither padded nor cut. It
// is data, not layout: a line feed, carriage return or backspace in it (a
// damaged file, another program's record) shows as '?' like every other
// control code, instead of moving the rows about.
template <std::size_t N>
void mostrarTexto(const char (&campo)[N]) {
  char visible[N];
  for (std::size_t i = 0; i < N; ++i) {
    const auto c = static_cast<unsigned char>(campo[i]);
    visible[i] = (c != 0 && c < 0x20) || c == 0x7F ? '?' : campo[i];
  }
  printText(visible);
}

void mostrarAlumno(int fila, const store::Alumno& alumno) {
  moveCursor(10, fila);
  mostrarTexto(alumno.codigo);
  moveCursor(27, fila);
  mostrarTexto(alumno.apellido);
  moveCursor(45, fila);
  mostrarTexto(alumno.nombre);
  moveCursor(62, fila);
  printNumber(alumno.edad);
}

// The rule under the last row written, then the prompt three rows lower.
void cerrarPagina(int mostrados) {
  printText("\n\r      ________________________________________________________");
  moveCursor(6, mostrados + 13);
  printText("         <<< ... PRESIONE ENTER para continuar >>>");
  esperarTeclaEco();
}

// A page ends with its prompt on the last row moveCursor can reach. A window
// too short for even one student still shows one at a time. A terminal that
// gave no size (0 x 0) leaves the window at its widest, far beyond the real
// screen: its pages are those of the 25-row console the screens are drawn for.
int alumnosPorPagina() {
  constexpr int kFilasSinTamano = 25;
  const ConsoleScreen& pantalla = consoleScreen();
  const int filas =
      pantalla.screenHeight == 0 ? kFilasSinTamano : pantalla.windowBottom - pantalla.windowTop + 1;
  return std::max(1, filas - 13);
}

void avisarQueCambio() {
  moveCursor(10, 20);
  printText(" Archivo ALUMNO.txt reemplazado mientras se listaba ...!!! ");
  esperarTecla();
}

}  // namespace

void reporteAlumnos() {
  dibujarTitulo();
  store::Lectura<store::Alumno> lectura;
  if (const store::Resultado r = lectura.abrir(); !r) {
    if (r.falla == store::Falla::noExiste) {
      avisarQueNoExiste();
    } else {
      avisarQueNoSeAbre(store::kArchivoAlumnos);
    }
    return;
  }

  store::Alumno& alumno = estado().alumno;
  const int porPagina = alumnosPorPagina();
  // One student is always read ahead, so that a page is known to be the last
  // before its key is awaited: a list that fills its last page exactly ends
  // there, with no empty page after it.
  bool hayOtro = lectura.siguiente(alumno);
  for (bool primera = true; primera || hayOtro; primera = false) {
    if (!primera) dibujarTitulo();
    dibujarEncabezado();
    int mostrados = 0;
    while (hayOtro && mostrados < porPagina) {
      ++mostrados;
      mostrarAlumno(9 + mostrados, alumno);
      hayOtro = lectura.siguiente(alumno);
    }
    if (const store::Resultado r = lectura.estado(); !r) {
      // A list cut short would pass for the whole file.
      dibujarTitulo();
      if (r.falla == store::Falla::reemplazado) {
        avisarQueCambio();
      } else {
        avisarQueNoSeAbre(store::kArchivoAlumnos);
      }
      return;
    }
    cerrarPagina(mostrados);
  }
}
