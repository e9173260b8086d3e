// Menu option 1: students entered one screen at a time and appended to the
// student file.
#include <cstddef>
#include <string_view>

#include "app/entrada.hpp"
#include "app/estado.hpp"
#include "console/console.hpp"
#include "screens/comun.hpp"
#include "screens/pantallas.hpp"
#include "store/archivos.hpp"
#include "store/registros.hpp"
#include "store/reglas.hpp"

using namespace console;

namespace {

constexpr std::size_t kLargoCodigo = store::kFormaCodigoAlumno.size();

// The file is created when missing; a failed open is tried once more.
bool abrirAlumnos(store::Archivo<store::Alumno>& alumnos) {
  if (alumnos.abrirParaAgregar()) return true;
  return static_cast<bool>(alumnos.abrirParaAgregar());
}

// Whatever the screen showed (the menu, or a student half entered) goes, so
// that the notice stands alone.
void avisarQueNoSeAbreAlumnos() {
  clearScreen();
  avisarQueNoSeAbre(store::kArchivoAlumnos);
}

// The code is on file: the program ends with the message over the code's row.
[[noreturn]] void terminarPorqueYaExiste() {
  moveCursor(15, 8);
  printText(" El alumno ya existe  ");
  terminarPrograma();
}

void dibujarEncabezado(int contador) {
  clearScreen();
  moveCursor(18, 5);
  setTextColor(15);
  consoleWrite("Ingreso de datos del alumno  ");
  printNumber(contador);
  printText("  :");
  moveCursor(18, 6);
  setTextColor(15);
  consoleWrite("---------------------------------");
}

// Reads the fields of one student into the record buffer. False when the
// student file could not be read to the end, so a stored code might have been
// missed.
bool leerAlumno(store::Archivo<store::Alumno>& alumnos, store::Alumno& alumno) {
  char codigo[kLargoCodigo];
  leerCodigo(18, 8, " * Codigo del Alumno   : ", store::kFormaCodigoAlumno, codigo);
  const std::string_view tecleado(codigo, kLargoCodigo);
  const store::Busqueda repetido = store::buscarCodigo(alumnos, tecleado);
  if (repetido.encontrado) terminarPorqueYaExiste();
  if (!repetido.resultado) return false;
  store::copiarTexto(alumno.codigo, tecleado);

  // pedirNombre never returns more than the field holds.
  constexpr std::size_t kLargoNombre = store::kLargoNombreAlumno;
  store::copiarTexto(alumno.apellido,
                     pedirNombre(18, 9, " * Apellido del alumno : ", kLargoNombre));
  store::copiarTexto(alumno.nombre, pedirNombre(18, 10, " * Nombre del alumno   : ", kLargoNombre));
  alumno.edad =
      pedirNumero(18, 11, " * Edad                : ", store::kEdad.minimo, store::kEdad.maximo);
  return true;
}

}  // namespace

void ingresarAlumnos() {
  store::Archivo<store::Alumno> alumnos;
  const bool abierto = abrirAlumnos(alumnos);
  avisarRecuperacion(alumnos.recuperacion());
  if (!abierto) {
    avisarQueNoSeAbreAlumnos();
    return;
  }
  // Opened again for each lookup and append: nothing is held while the clerk types.
  alumnos.cerrar();
  store::Alumno& alumno = estado().alumno;
  int contador = 0;
  char respuesta = 'S';
  while (respuesta == 'S') {
    dibujarEncabezado(++contador);
    if (!leerAlumno(alumnos, alumno)) {
      avisarQueNoSeAbreAlumnos();
      return;
    }
    // Another copy may have stored the same code while this clerk typed the
    // other fields: the store looks again under the append's lock, and such
    // a code ends the program as one found at the code does. The store puts
    // the file back as it was when the record cannot be written whole.
    const store::Resultado agregado = alumnos.agregarSiNuevo(alumno);
    // The file gone meanwhile, the append made it anew.
    avisarRecuperacion(alumnos.recuperacion());
    if (agregado.falla == store::Falla::repetido) terminarPorqueYaExiste();
    if (!agregado) {
      avisarQueNoSeAgrego(agregado, store::kArchivoAlumnos);
      return;
    }
    clearScreen();
    respuesta = preguntarSiNo(15, 8, " Desea ingresar datos de otro alumno <S/N> : ");
  }
  esperarTeclaEco();
}
