// Menu option 3: one student's grades in one course per screen, appended to
// NOTAALUMNO.txt. The two codes are stored as typed and never checked.
#include <cstdint>

#include "app/entrada.hpp"
#include "app/estado.hpp"
#include "console/console.hpp"
#include "screens/comun.hpp"
#include "screens/pantallas.hpp"
#include "store/archivos.hpp"
#include "store/reglas.hpp"

using namespace console;

namespace {

struct Evaluacion {
  int fila;
  const char* prompt;
  std::int32_t store::NotaAlumno::*campo;
};

constexpr Evaluacion kEvaluaciones[] = {
    {11, " Practica # 1   : ", &store::NotaAlumno::practica1},
    {12, " Practica # 2   : ", &store::NotaAlumno::practica2},
    {13, " Practica # 3   : ", &store::NotaAlumno::practica3},
    {14, " Examen Parcial : ", &store::NotaAlumno::examenParcial},
    {15, " Examen final   : ", &store::NotaAlumno::examenFinal},
};

void dibujarEncabezado(std::int32_t contador) {
  moveCursor(10, 4);
  setTextColor(15);
  consoleWrite(" INGRESAR NOTAS DEL ALUMNO ");
  printNumber(contador);
}

// A code is a plain line, never a wrong entry: whatever was typed goes in,
// a NUL as any other character, cut to the field.
template <std::size_t N>
void pedirCodigo(int row, const char* prompt, char (&campo)[N]) {
  EstadoPrograma& e = estado();
  moveCursor(10, row);
  clearToEndOfLine();
  printText(prompt);
  store::copiarCodigo(campo, leerLinea(e.lineaEntrada, sizeof e.lineaEntrada).texto);
}

void pedirDatosDeLaNota() {
  store::NotaAlumno& nota = estado().nota;
  pedirCodigo(7, "Codigo Alumno   : ", nota.codigoAlumno);
  pedirCodigo(8, "Codigo del curso: ", nota.codigoCurso);
  moveCursor(15, 10);
  printText(" Ingreso de Evaluaciones ");
  for (const Evaluacion& evaluacion : kEvaluaciones) {
    nota.*evaluacion.campo = pedirNumero(15, evaluacion.fila, evaluacion.prompt,
                                         store::kNota.minimo, store::kNota.maximo);
  }
}

}  // namespace

void ingresarNotas() {
  clearScreen();
  store::Archivo<store::NotaAlumno> notas;
  if (!notas.abrirParaAgregar()) {
    // Five grades that could never be stored are not asked for.
    printText("Crear el archivo");
    esperarTecla();
    return;
  }
  // Opened again for each append: nothing is held while the clerk types.
  notas.cerrar();
  std::int32_t contador = 0;

  for (;;) {
    ++contador;
    clearScreen();
    dibujarEncabezado(contador);
    pedirDatosDeLaNota();
    if (const store::Resultado r = notas.agregar(estado().nota); !r) {
      avisarQueNoSeAgrego(r, store::kArchivoNotas);
      return;
    }
    esperarTeclaEco();

    clearScreen();
    if (preguntarSiNo(15, 8, " Desea ingresar notas de otro alumno <S/N> : ") == 'N') break;
  }
}
