#include "app/entrada.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "console/console.hpp"

using namespace console;

namespace {

void avisarMaximoDeErrores() {
  clearScreen();
  moveCursor(25, 25);
  setTextColor(14);
  consoleWrite("Nota: numero maximo de errores por ingreso de datos = 3");
  moveCursor(20, 12);
  printText("Paso el numero maximo de errores.....Vuelva otro dia");
  esperarTeclaEco();
  terminarPrograma();
}

// One try at a field: its prompt drawn afresh, then a line read and judged.
void preguntar(int column, int row, const char* prompt, ModoDato modo) {
  moveCursor(column, row);
  clearToEndOfLine();
  printText(prompt);
  leerDato(modo);
}

}  // namespace

void leerDato(ModoDato modo) {
  EstadoPrograma& e = estado();
  const Linea linea = leerLinea(e.lineaEntrada, sizeof e.lineaEntrada);
  if (linea.cortada) {
    e.datoValido = false;
    return;
  }
  e.datoValido = store::todoDeClase(linea.texto, modo);
  if (!e.datoValido) ++e.errores;
  if (e.errores == 4) avisarMaximoDeErrores();
}

std::int32_t pedirNumero(int column, int row, const char* prompt, std::int32_t minimo,
                         std::int32_t maximo) {
  EstadoPrograma& e = estado();
  e.errores = 0;
  for (;;) {
    preguntar(column, row, prompt, kSoloDigitos);
    if (!e.datoValido) continue;
    std::int32_t valor = aNumero(e.lineaEntrada);
    if (valor >= minimo && valor <= maximo) return valor;
  }
}

const char* pedirNombre(int column, int row, const char* prompt, std::size_t largoMaximo) {
  EstadoPrograma& e = estado();
  e.errores = 0;
  for (;;) {
    preguntar(column, row, prompt, kSoloLetras);
    if (e.datoValido && std::strlen(e.lineaEntrada) <= largoMaximo) return e.lineaEntrada;
  }
}

int leerTecla() {
  int codigo = readKey();
  if (codigo < 0) terminarPrograma();
  return codigo;
}

Linea leerLinea(char* destino, std::size_t capacidad) {
  const std::optional<std::size_t> largo = readLine(destino, capacidad);
  if (!largo) terminarPrograma();
  const std::size_t guardado = capacidad > 0 ? std::min(*largo, capacidad - 1) : 0;
  return {std::string_view(destino, guardado), *largo > guardado};
}

namespace {

// One key press: its code and, for an extended key, the second code too.
struct Pulsacion {
  int codigo;
  std::optional<int> segundo;
};

Pulsacion leerPulsacion() {
  const int codigo = leerTecla();
  if (codigo != 0 || consoleScreen().pendingExtendedCode == -1) return {codigo, std::nullopt};
  return {codigo, leerTecla()};
}

// As readKeyEcho draws each code, here both at once.
void dibujar(const Pulsacion& tecla) {
  consoleWriteChar(tecla.codigo);
  if (tecla.segundo) consoleWriteChar(*tecla.segundo);
}

}  // namespace

void esperarTecla() {
  (void)leerPulsacion();
}

void esperarTeclaEco() {
  // The end of input ends the program before anything is drawn.
  dibujar(leerPulsacion());
}

int leerRespuesta(EcoRespuesta eco) {
  const Pulsacion tecla = leerPulsacion();
  if (tecla.segundo) return 0;
  const int respuesta = mayuscula(tecla.codigo);
  if (eco == EcoRespuesta::celda) {
    dibujar(tecla);
  } else {
    printChar(static_cast<char>(respuesta));
  }
  return respuesta;
}

int mayuscula(int tecla) {
  return tecla >= 'a' && tecla <= 'z' ? tecla - 'a' + 'A' : tecla;
}

void terminarPrograma() {
  closeConsole();
  std::exit(0);
}
