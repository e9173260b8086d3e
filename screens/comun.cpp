#include "screens/comun.hpp"

#include <string>

#include "app/entrada.hpp"
#include "console/console.hpp"
#include "store/archivos.hpp"
#include "store/reglas.hpp"

using namespace console;

namespace {

void avisar(const std::string& mensaje) {
  moveCursor(10, 20);
  printText(mensaje.c_str());
  esperarTecla();
}

}  // namespace

void leerCodigo(int column, int row, const char* prompt, std::string_view patron, char* codigo) {
  for (;;) {
    moveCursor(column, row);
    clearToEndOfLine();
    printText(prompt);
    bool valido = true;
    for (std::size_t i = 0; i < patron.size(); ++i) {
      int tecla = leerTecla();
      printChar(static_cast<char>(tecla));
      codigo[i] = static_cast<char>(tecla);
      if (!store::esDeClase(tecla, patron[i])) valido = false;
    }
    if (valido) return;
  }
}

char preguntarSiNo(int column, int row, const char* pregunta) {
  int respuesta = -1;
  for (;;) {
    moveCursor(column, row);
    printText(pregunta);
    if (respuesta == 0) clearToEndOfLine();
    respuesta = leerRespuesta(EcoRespuesta::mayuscula);
    if (respuesta == 'S' || respuesta == 'N') return static_cast<char>(respuesta);
  }
}

void avisarQueNoSeAbre(const char* archivo) {
  avisar(std::string(" No se puede abrir el archivo ") + archivo + " ...!!! ");
}

void avisarQueNoSeGraba(const char* archivo) {
  avisar(std::string(" No se pudo grabar en el archivo ") + archivo + " ...!!! ");
}

void avisarQueEstaEnUso(const char* archivo) {
  avisar(std::string(" Archivo ") + archivo + " en uso, intente mas tarde ...!!! ");
}

void avisarQueNoSeAgrego(const store::Resultado& resultado, const char* archivo) {
  if (resultado.falla == store::Falla::enUso) {
    avisarQueEstaEnUso(archivo);
  } else {
    avisarQueNoSeGraba(archivo);
  }
}
