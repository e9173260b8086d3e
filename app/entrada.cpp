#include "app/entrada.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "console/console.hpp"

using namespace console;

namespace {

bool aceptado(char c, ModoDato modo) {
  switch (modo) {
    case kSoloDigitos:
      return esDigito(c);
    case kSoloLetras:
      return esLetra(c);
    default:
      return true;
  }
}

void avisarMaximoDeErrores() {
  clearScreen();
  moveCursor(25, 25);
  setTextColor(14);
  consoleWrite("Nota: numero maximo de errores por ingreso de datos = 3");
  moveCursor(20, 12);
  printText("Paso el numero maximo de errores.....Vuelva otro dia");
  leerTeclaEco();
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
  leerLinea(e.lineaEntrada, sizeof e.lineaEntrada);
  e.datoValido = true;
  for (const char* c = e.lineaEntrada; *c != '\0'; ++c) {
    if (!aceptado(*c, modo)) e.datoValido = false;
  }
  if (!e.datoValido) ++e.errores;
  if (e.errores == 4) avisarMaximoDeErrores();
}

std::int32_t aNumero(const char* linea) {
  constexpr std::int64_t kMaximo = std::numeric_limits<std::int32_t>::max();
  std::int64_t valor = 0;
  for (const char* c = linea; esDigito(*c); ++c) {
    valor = std::min(valor * 10 + (*c - '0'), kMaximo);
  }
  return static_cast<std::int32_t>(valor);
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

int leerTeclaEco() {
  // readKeyEcho, but the end of input ends the program before anything is drawn.
  int codigo = leerTecla();
  consoleWriteChar(codigo);
  return codigo;
}

void leerLinea(char* destino, std::size_t capacidad) {
  if (!readLine(destino, capacidad)) terminarPrograma();
}

void terminarPrograma() {
  closeConsole();
  std::exit(0);
}
