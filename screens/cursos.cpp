// Menu option 2: courses appended to CURSO.txt, one screen per course. A code
// already on file sends the clerk back to the menu; the program goes on.
#include <cstring>
#include <string_view>

#include "app/entrada.hpp"
#include "app/estado.hpp"
#include "console/console.hpp"
#include "screens/comun.hpp"
#include "screens/pantallas.hpp"
#include "store/archivos.hpp"
#include "store/reglas.hpp"

using namespace console;

namespace {

constexpr std::size_t kLargoCodigo = store::kFormaCodigoCurso.size();
constexpr int kColumnaCodigo = 10;
constexpr int kFilaCodigo = 6;
constexpr char kPideCodigo[] = " * Codigo del Curso : ";

void dibujarEncabezado(std::int32_t contador) {
  moveCursor(12, 4);
  setTextColor(15);
  consoleWrite(" INGRESAR DATOS DEL CURSO ");
  printNumber(contador);
}

// A code already on file: the message three rows below the code, from the
// first column, a key, and back to the menu (the caller returns).
void rechazarRepetido() {
  printText("\n\n\n\r Registro DE CURSO YA EXISTE ...!!!");
  esperarTeclaEco();
}

// Fills the course buffer from the clerk's answers; the code is already known
// to be new.
void pedirDatosDelCurso(const char (&codigo)[kLargoCodigo]) {
  store::Curso& curso = estado().curso;
  std::memcpy(curso.codigo, codigo, kLargoCodigo);
  const char* nombre = pedirNombre(10, 7, " * Nombre del Curso : ", store::kLargoNombreCurso);
  (void)store::copiarTexto(curso.nombre, nombre);
  curso.creditos = pedirNumero(10, 8, " * Creditos         : ", store::kCreditos.minimo,
                               store::kCreditos.maximo);
}

}  // namespace

void ingresarCursos() {
  clearScreen();
  std::int32_t contador = 0;
  store::Archivo<store::Curso> cursos;
  if (!cursos.abrirParaAgregar()) {
    avisarQueNoSeAbre(store::kArchivoCursos);
    return;
  }
  // Opened again for each lookup and append: nothing is held while the clerk types.
  cursos.cerrar();

  for (;;) {
    ++contador;
    clearScreen();
    dibujarEncabezado(contador);

    char codigo[kLargoCodigo];
    leerCodigo(kColumnaCodigo, kFilaCodigo, kPideCodigo, store::kFormaCodigoCurso, codigo);
    const store::Busqueda busqueda =
        store::buscarCodigo(cursos, std::string_view(codigo, kLargoCodigo));
    if (busqueda.encontrado) {
      rechazarRepetido();
      return;
    }
    // A file we could not read to the end may hold the code further on:
    // storing it could make a duplicate.
    if (!busqueda.resultado) {
      avisarQueNoSeAbre(store::kArchivoCursos);
      return;
    }

    pedirDatosDelCurso(codigo);
    // The clerk is told the course is registered only once it is on disk.
    // Another copy may have stored the same code while the clerk typed the
    // name and credits: the store looks again under the append's lock, and
    // the refusal then reads where it reads at the code, below the fields.
    const store::Resultado agregado = cursos.agregarSiNuevo(estado().curso);
    if (agregado.falla == store::Falla::repetido) {
      moveCursor(kColumnaCodigo + static_cast<int>(sizeof kPideCodigo - 1 + kLargoCodigo),
                 kFilaCodigo);
      rechazarRepetido();
      return;
    }
    if (!agregado) {
      avisarQueNoSeAgrego(agregado, store::kArchivoCursos);
      return;
    }
    moveCursor(10, 12);
    printText(" CURSO REGISTRADO... !!! ");
    esperarTeclaEco();

    clearScreen();
    if (preguntarSiNo(10, 8, " Desea ingresar datos de otro curso <S/N> : ") == 'N') break;
  }
}
