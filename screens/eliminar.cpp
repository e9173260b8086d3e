// Option 5: removes every student with one code, after the clerk confirms.
//
// The student file is never edited in place: the students kept are written
// to TEMPORAL.txt, which then takes ALUMNO.txt's place in one step (the store
// does this), so a crash at any moment leaves either the old file or the new
// one. Nothing is reported as deleted unless it was.
#include <cstdint>

#include "app/entrada.hpp"
#include "app/estado.hpp"
#include "console/console.hpp"
#include "screens/comun.hpp"
#include "screens/pantallas.hpp"
#include "store/archivos.hpp"

using namespace console;

namespace {

enum class Borrado : std::uint8_t { hecho, fallido, enUso };

// Rewrites ALUMNO.txt without the students whose code is claveEliminar, then
// waits for a key; hecho when the file now holds only the others. Another
// copy keeping the file busy too long is enUso, with no key awaited yet.
Borrado reescribirAlumnos() {
  const store::Resultado r = store::eliminarAlumnos(estado().claveEliminar);
  if (r.falla == store::Falla::enUso) return Borrado::enUso;
  if (r.falla == store::Falla::noExiste) {
    printText("\n\n\n\rNo existe el archivo !!!\n");
    esperarTecla();
    return Borrado::fallido;
  }
  esperarTeclaEco();
  // A directory that could not be flushed still names the new file: the
  // students are gone, only the change's survival of a power cut is in doubt.
  return r || r.falla == store::Falla::sincronizarDirectorio ? Borrado::hecho : Borrado::fallido;
}

// Asks until the answer is S or N. Every key is echoed as typed; a wrong one
// is wiped by the question drawn again. An extended key is no answer.
int confirmar() {
  for (;;) {
    moveCursor(10, 10);
    clearToEndOfLine();
    printText("..SEGURO que desea BORRARLO ...? [S/N] : ");
    const int respuesta = leerRespuesta(EcoRespuesta::celda);
    if (respuesta == 'S' || respuesta == 'N') return respuesta;
  }
}

void dibujarTitulo() {
  clearScreen();
  moveCursor(10, 4);
  setTextColor(15);
  consoleWrite(" ELIMINAR REGISTROS DE ALUMNOS :  ");
  moveCursor(8, 5);
  printText("   ______________________________");
}

}  // namespace

void eliminarAlumno() {
  EstadoPrograma& e = estado();
  dibujarTitulo();

  // Created empty when missing, so that a code typed there is simply not
  // found; the students a cut-off replacement left in TEMPORAL.txt are put
  // back first, and the screen drawn again after that notice.
  store::Archivo<store::Alumno> alumnos;
  const store::Resultado abierto = alumnos.abrirParaAgregar();
  if (const store::Recuperacion hecho = alumnos.recuperacion();
      hecho != store::Recuperacion::nadaQueHacer) {
    avisarRecuperacion(hecho);
    dibujarTitulo();
  }
  if (!abierto) {
    avisarQueNoSeAbre(store::kArchivoAlumnos);
    return;
  }
  // Opened again for the lookup: nothing is held while the clerk types.
  alumnos.cerrar();
  moveCursor(10, 8);
  clearToEndOfLine();
  printText(" Ingrese codigo= ");
  // The code as typed, a NUL in it included: such a code is in no record.
  const Linea clave = leerLinea(e.claveEliminar, sizeof e.claveEliminar);

  const store::Busqueda busqueda = store::buscarCodigo(alumnos, clave.texto);
  if (!busqueda.resultado) {
    avisarQueNoSeAbre(store::kArchivoAlumnos);
    return;
  }
  if (busqueda.encontrado) {
    if (confirmar() == 'S') {
      const Borrado borrado = reescribirAlumnos();
      if (borrado == Borrado::enUso) {
        avisarQueEstaEnUso(store::kArchivoAlumnos);
        return;
      }
      moveCursor(10, 13);
      printText(borrado == Borrado::hecho ? " Registro eliminado....!!! "
                                          : " No se pudo eliminar el registro ...!!! ");
      esperarTeclaEco();
    }
  } else {
    moveCursor(10, 12);
    printText(" No se encuentra ese alumno...!!! ");
  }
  esperarTeclaEco();
}
