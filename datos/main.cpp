// alumnos-datos: the school's files out to spreadsheets, and a check of them.
// Run in the directory that holds the files; it only reads them.
//
// Exit status: 0 done (verificar: no problem found); 1 verificar found
// problems; 2 a usage error, a file that cannot be read or output that
// cannot be written, told in one line on standard error.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "datos/csv.hpp"
#include "datos/exportar.hpp"
#include "datos/sistema.hpp"
#include "datos/verificar.hpp"

namespace {

constexpr int kBien = 0;
constexpr int kHayProblemas = 1;
constexpr int kError = 2;

constexpr char kAyuda[] =
    "Uso: alumnos-datos exportar alumnos|cursos|notas [--separador C]\n"
    "     alumnos-datos verificar\n"
    "     alumnos-datos --help\n"
    "\n"
    "Lee ALUMNO.txt, CURSO.txt y NOTAALUMNO.txt en el directorio actual, sin\n"
    "cambiarlos.\n"
    "\n"
    "  exportar alumnos   codigo, apellido, nombre y edad de cada alumno\n"
    "  exportar cursos    codigo, nombre y creditos de cada curso\n"
    "  exportar notas     cada registro de notas con el codigo, apellido y nombre\n"
    "                     del alumno, el codigo y nombre del curso (vacios si el\n"
    "                     codigo no esta en los archivos), las cinco notas y su\n"
    "                     promedio con un decimal\n"
    "      Escribe CSV (UTF-8, filas terminadas en CR LF) por la salida estandar,\n"
    "      en el orden de los archivos. --separador C separa los campos con el\n"
    "      caracter C en vez de la coma; con ; el promedio lleva coma decimal,\n"
    "      como esperan las hojas de calculo en castellano.\n"
    "\n"
    "  verificar\n"
    "      Revisa los archivos y escribe una linea por cada problema (datos\n"
    "      danados) o aviso (notas de alumnos o cursos que no estan, un\n"
    "      TEMPORAL.txt que quedo), con el archivo, el numero de registro y el\n"
    "      codigo, y al final los totales.\n"
    "\n"
    "Estado de salida: 0 bien (verificar: sin problemas), 1 verificar encontro\n"
    "problemas, 2 error de uso o un archivo que no se puede leer.\n";

// A word typed by the user, safe to show: control characters as '?'.
std::string palabra(std::string_view texto) {
  std::string visible(texto);
  for (char& c : visible) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return "\"" + visible + "\"";
}

int fallar(const std::string& mensaje) {
  datos::sistema::escribirErrores("alumnos-datos: " + mensaje + "\n");
  return kError;
}

int errorDeUso(const std::string& mensaje) {
  return fallar(mensaje + " (alumnos-datos --help muestra el uso)");
}

// The end of a command: what it could not read, or output that did not go out.
int terminar(datos::Salida& salida, const datos::Lectura& lectura, int estado) {
  const bool escrita = salida.terminar();
  if (lectura) {
    return fallar(std::string("No se puede leer el archivo ") + lectura->archivo + " (" +
                  datos::sistema::motivo(lectura->numeroError, lectura->archivo) + ")");
  }
  if (!escrita) {
    return fallar("No se pudo escribir la salida (" +
                  datos::sistema::motivo(salida.fallo(), nullptr) + ")");
  }
  return estado;
}

std::optional<datos::Tema> temaDe(std::string_view nombre) {
  if (nombre == "alumnos") return datos::Tema::alumnos;
  if (nombre == "cursos") return datos::Tema::cursos;
  if (nombre == "notas") return datos::Tema::notas;
  return std::nullopt;
}

// One ASCII character that cannot be taken for part of a field: not a quote,
// a letter, a digit or a control character other than the tab.
bool separadorValido(std::string_view texto) {
  if (texto.size() != 1) return false;
  const char c = texto[0];
  if (c == '\t') return true;
  const bool alfanumerico =
      (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  return c >= ' ' && c <= '~' && c != '"' && !alfanumerico;
}

int ejecutarExportar(const std::vector<std::string_view>& palabras) {
  std::optional<datos::Tema> tema;
  char separador = ',';
  for (std::size_t i = 1; i < palabras.size(); ++i) {
    const std::string_view p = palabras[i];
    if (p == "--separador" || p.starts_with("--separador=")) {
      std::string_view valor;
      if (p == "--separador") {
        if (i + 1 == palabras.size()) return errorDeUso("falta el caracter despues de --separador");
        valor = palabras[++i];
      } else {
        valor = p.substr(std::string_view("--separador=").size());
      }
      if (!separadorValido(valor)) {
        return errorDeUso("separador no valido: " + palabra(valor) +
                          "; debe ser un caracter que no sea letra, digito ni comillas");
      }
      separador = valor[0];
    } else if (!tema) {
      tema = temaDe(p);
      if (!tema)
        return errorDeUso("no se puede exportar " + palabra(p) + ": alumnos, cursos o notas");
    } else {
      return errorDeUso("sobra la palabra " + palabra(p));
    }
  }
  if (!tema) return errorDeUso("falta que exportar: alumnos, cursos o notas");
  datos::Salida salida(datos::sistema::escribirSalida);
  const datos::Lectura lectura = datos::exportar(*tema, separador, salida);
  return terminar(salida, lectura, kBien);
}

int ejecutarVerificar(const std::vector<std::string_view>& palabras) {
  if (palabras.size() > 1) return errorDeUso("sobra la palabra " + palabra(palabras[1]));
  datos::Salida salida(datos::sistema::escribirSalida);
  std::size_t problemas = 0;
  const datos::Lectura lectura = datos::verificar(salida, problemas);
  return terminar(salida, lectura, problemas == 0 ? kBien : kHayProblemas);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> palabras(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (palabras.empty()) return errorDeUso("falta la orden: exportar o verificar");
  const std::string_view orden = palabras[0];
  if (orden == "--help" || orden == "-h") {
    datos::Salida salida(datos::sistema::escribirSalida);
    salida.poner(kAyuda);
    return terminar(salida, std::nullopt, kBien);
  }
  if (orden == "exportar") return ejecutarExportar(palabras);
  if (orden == "verificar") return ejecutarVerificar(palabras);
  return errorDeUso("orden desconocida " + palabra(orden) + ": exportar o verificar");
}
