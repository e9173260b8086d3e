// alumnos-datos: the school's files out to spreadsheets and in from them, a
// check of them, and a backup. Run in the directory that holds the files;
// only importar changes them.
//
// Exit status: 0 done (verificar: no problem found); 1 verificar found
// problems, or importar stored nothing for rows that break the rules; 2 a
// usage error, a file that cannot be read, written or locked in time, output
// that cannot be written, or a backup not made, told in one line on standard
// error.
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "datos/csv.hpp"
#include "datos/exportar.hpp"
#include "datos/importar.hpp"
#include "datos/motivo.hpp"
#include "datos/respaldar.hpp"
#include "datos/verificar.hpp"
#include "store/sistema.hpp"

namespace {

constexpr int kBien = 0;
constexpr int kHayProblemas = 1;
constexpr int kError = 2;

constexpr char kAyuda[] =
    "Uso: alumnos-datos exportar alumnos|cursos|notas [--separador C | --excel]\n"
    "     alumnos-datos importar alumnos|cursos|notas ARCHIVO [--separador C]\n"
    "                            [--probar] [--sin-acentos]\n"
    "     alumnos-datos verificar\n"
    "     alumnos-datos respaldar CARPETA\n"
    "     alumnos-datos --help | --version\n"
    "\n"
    "Trabaja con ALUMNO.txt, CURSO.txt y NOTAALUMNO.txt en el directorio actual;\n"
    "solo importar los cambia.\n"
    "\n"
    "  exportar alumnos   codigo, apellido, nombre y edad de cada alumno\n"
    "  exportar cursos    codigo, nombre y creditos de cada curso\n"
    "  exportar notas     cada registro de notas con el codigo, apellido y nombre\n"
    "                     del alumno, el codigo y nombre del curso (vacios si el\n"
    "                     codigo no esta en los archivos), las cinco notas y su\n"
    "                     promedio con un decimal\n"
    "      Escribe CSV (UTF-8, filas terminadas en CR LF) por la salida estandar,\n"
    "      en el orden de los archivos. --separador C separa los campos con el\n"
    "      caracter C en vez de la coma: un solo caracter ASCII que no sea letra,\n"
    "      digito ni comillas (el tabulador tambien sirve); con ; el promedio\n"
    "      lleva coma decimal, como esperan las hojas de calculo en castellano.\n"
    "      --excel escribe lo que una hoja de calculo en castellano abre bien\n"
    "      con doble clic: separador ;, coma decimal y la marca UTF-8 al inicio.\n"
    "      Un texto que una hoja de calculo tomaria por formula (empieza, tras\n"
    "      los blancos, por = + - o @) sale con un apostrofo delante; un campo\n"
    "      con el separador o con comillas sale entre comillas.\n"
    "\n"
    "  importar alumnos|cursos|notas ARCHIVO\n"
    "      Agrega las filas del archivo CSV ARCHIVO (- es la entrada estandar) al\n"
    "      final del archivo de registros, todas o ninguna. La primera fila nombra\n"
    "      las columnas como las escribe exportar, en cualquier orden; las demas\n"
    "      columnas no se usan. Cada fila se revisa como en las pantallas; si una\n"
    "      no sirve, no se guarda nada y se dice la linea, la columna y por que.\n"
    "      El CSV puede estar en UTF-8 o en Windows-1252; el separador es el de la\n"
    "      primera fila (coma, punto y coma o tabulador) o el de --separador C.\n"
    "      --probar revisa y no guarda nada. --sin-acentos guarda las letras con\n"
    "      acento, tilde, dieresis o cedilla como la letra sola (Munoz).\n"
    "\n"
    "  verificar\n"
    "      Revisa los archivos y escribe una linea por cada problema (datos\n"
    "      danados) o aviso (notas de alumnos o cursos que no estan, un\n"
    "      archivo temporal que quedo), con el archivo, el numero de registro y\n"
    "      el codigo, y al final los totales.\n"
    "\n"
    "  respaldar CARPETA\n"
    "      Copia ALUMNO.txt, CURSO.txt, NOTAALUMNO.txt y TEMPORAL.txt, los que\n"
    "      esten, a una carpeta nueva dentro de CARPETA (una memoria USB, por\n"
    "      ejemplo) llamada respaldo-AAAA-MM-DD-HHMM, aunque otras copias del\n"
    "      programa esten trabajando. Cada copia se graba en el disco y se lee de\n"
    "      nuevo para comprobarla; la carpeta toma su nombre solo cuando todo esta\n"
    "      bien. Dice cuantos registros copio de cada archivo.\n"
    "\n"
    "Estado de salida: 0 bien (verificar: sin problemas), 1 verificar encontro\n"
    "problemas o importar no guardo nada por filas que no sirven, 2 error de uso,\n"
    "un archivo que no se puede leer o escribir, o en uso por otra copia, o un\n"
    "respaldo que no se pudo hacer.\n";

// A word typed by the clerk, in quotes.
std::string palabra(std::string_view texto) {
  std::string entreComillas(1, '"');
  entreComillas += datos::mostrable(texto);
  entreComillas += '"';
  return entreComillas;
}

int fallar(const std::string& mensaje) {
  store::sistema::escribirErrores("alumnos-datos: " + mensaje + "\n");
  return kError;
}

int errorDeUso(const std::string& mensaje) {
  return fallar(mensaje + " (alumnos-datos --help muestra el uso)");
}

// The end of a command: what it could not read, or output that did not go out.
int terminar(datos::Salida& salida, const datos::Lectura& lectura, int estado) {
  const bool escrita = salida.terminar();
  if (lectura) return fallar(datos::explicar(*lectura));
  if (!escrita) {
    return fallar("No se pudo escribir la salida (" + datos::motivo(salida.fallo(), nullptr) + ")");
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

// Takes `--separador C` or `--separador=C` at palabras[i], moving i past it.
// False when palabras[i] is no such option; an error of use in `error`
// when the character is missing or not valid.
bool leerSeparador(const std::vector<std::string_view>& palabras, std::size_t& i, char& separador,
                   std::optional<int>& error) {
  const std::string_view p = palabras[i];
  std::string_view valor;
  if (p == "--separador") {
    if (i + 1 == palabras.size()) {
      error = errorDeUso("falta el caracter despues de --separador");
      return true;
    }
    valor = palabras[++i];
  } else if (p.starts_with("--separador=")) {
    valor = p.substr(std::string_view("--separador=").size());
  } else {
    return false;
  }
  if (!separadorValido(valor)) {
    error = errorDeUso("separador no valido: " + palabra(valor) +
                       "; debe ser un solo caracter ASCII que no sea letra, digito ni comillas");
  } else {
    separador = valor[0];
  }
  return true;
}

int ejecutarExportar(const std::vector<std::string_view>& palabras) {
  std::optional<datos::Tema> tema;
  datos::OpcionesExportar opciones;
  bool conSeparador = false;
  for (std::size_t i = 1; i < palabras.size(); ++i) {
    const std::string_view p = palabras[i];
    std::optional<int> error;
    if (leerSeparador(palabras, i, opciones.separador, error)) {
      if (error) return *error;
      conSeparador = true;
    } else if (p == "--excel") {
      opciones.marcaUtf8 = true;
    } else if (p.starts_with("--")) {
      return errorDeUso("opcion desconocida " + palabra(p));
    } else if (!tema) {
      tema = temaDe(p);
      if (!tema)
        return errorDeUso("no se puede exportar " + palabra(p) + ": alumnos, cursos o notas");
    } else {
      return errorDeUso("sobra la palabra " + palabra(p));
    }
  }
  if (!tema) return errorDeUso("falta que exportar: alumnos, cursos o notas");
  if (opciones.marcaUtf8) {
    if (conSeparador) return errorDeUso("--excel ya separa con ; y no se junta con --separador");
    opciones.separador = ';';
  }
  datos::Salida salida(store::sistema::escribirSalida);
  const datos::Lectura lectura = datos::exportar(*tema, opciones, salida);
  return terminar(salida, lectura, kBien);
}

int ejecutarImportar(const std::vector<std::string_view>& palabras) {
  std::optional<datos::Tema> tema;
  std::optional<std::string_view> archivo;
  datos::OpcionesImportar opciones;
  for (std::size_t i = 1; i < palabras.size(); ++i) {
    const std::string_view p = palabras[i];
    std::optional<int> error;
    if (leerSeparador(palabras, i, opciones.separador, error)) {
      if (error) return *error;
    } else if (p == "--probar") {
      opciones.probar = true;
    } else if (p == "--sin-acentos") {
      opciones.sinAcentos = true;
    } else if (p.starts_with("--")) {
      return errorDeUso("opcion desconocida " + palabra(p));
    } else if (!tema) {
      tema = temaDe(p);
      if (!tema)
        return errorDeUso("no se puede importar " + palabra(p) + ": alumnos, cursos o notas");
    } else if (!archivo) {
      archivo = p;
    } else {
      return errorDeUso("sobra la palabra " + palabra(p));
    }
  }
  if (!tema) return errorDeUso("falta que importar: alumnos, cursos o notas");
  if (!archivo)
    return errorDeUso("falta el archivo CSV que importar, o - para la entrada estandar");

  const bool entrada = *archivo == "-";
  const std::string nombre = entrada ? "la entrada estandar" : std::string(*archivo);
  std::string csv;
  if (const int e = store::sistema::leerTodo(entrada ? nullptr : nombre.c_str(), csv); e != 0) {
    return fallar("No se puede leer " + (entrada ? nombre : "el archivo " + nombre) + " (" +
                  datos::motivo(e, entrada ? nullptr : nombre.c_str()) + ")");
  }
  datos::Salida salida(store::sistema::escribirSalida);
  std::size_t problemas = 0;
  std::optional<std::string> fallo;
  try {
    fallo = datos::importar(*tema, csv, nombre, opciones, salida, problemas);
  } catch (const std::bad_alloc&) {
    // Rows beyond what memory holds: nothing was stored, nothing is left behind.
    fallo = "No hay memoria para importar " + nombre;
  }
  if (fallo) {
    (void)salida.terminar();
    return fallar(*fallo);
  }
  return terminar(salida, std::nullopt, problemas == 0 ? kBien : kHayProblemas);
}

int ejecutarRespaldar(const std::vector<std::string_view>& palabras) {
  std::optional<std::string_view> carpeta;
  for (std::size_t i = 1; i < palabras.size(); ++i) {
    const std::string_view p = palabras[i];
    if (p.starts_with("--")) return errorDeUso("opcion desconocida " + palabra(p));
    if (carpeta) return errorDeUso("sobra la palabra " + palabra(p));
    carpeta = p;
  }
  if (!carpeta) return errorDeUso("falta la carpeta donde respaldar");
  datos::Salida salida(store::sistema::escribirSalida);
  if (const std::optional<std::string> fallo = datos::respaldar(std::string(*carpeta), salida)) {
    (void)salida.terminar();
    return fallar(*fallo);
  }
  return terminar(salida, std::nullopt, kBien);
}

int ejecutarVerificar(const std::vector<std::string_view>& palabras) {
  if (palabras.size() > 1) return errorDeUso("sobra la palabra " + palabra(palabras[1]));
  datos::Salida salida(store::sistema::escribirSalida);
  std::size_t problemas = 0;
  const datos::Lectura lectura = datos::verificar(salida, problemas);
  return terminar(salida, lectura, problemas == 0 ? kBien : kHayProblemas);
}

// --help and --version: their text, with no word after the option.
int mostrar(const std::vector<std::string_view>& palabras, const char* texto) {
  if (palabras.size() > 1) return errorDeUso("sobra la palabra " + palabra(palabras[1]));
  datos::Salida salida(store::sistema::escribirSalida);
  salida.poner(texto);
  return terminar(salida, std::nullopt, kBien);
}

int ejecutar(const std::vector<std::string_view>& palabras) {
  if (palabras.empty())
    return errorDeUso("falta la orden: exportar, importar, verificar o respaldar");
  const std::string_view orden = palabras[0];
  if (orden == "--help" || orden == "-h") return mostrar(palabras, kAyuda);
  if (orden == "--version") return mostrar(palabras, "alumnos-datos " ALUMNOS_VERSION "\n");
  if (orden == "exportar") return ejecutarExportar(palabras);
  if (orden == "importar") return ejecutarImportar(palabras);
  if (orden == "verificar") return ejecutarVerificar(palabras);
  if (orden == "respaldar") return ejecutarRespaldar(palabras);
  return errorDeUso("orden desconocida " + palabra(orden) +
                    ": exportar, importar, verificar o respaldar");
}

}  // namespace

int main(int argc, char** argv) {
  store::sistema::reservarEstandar();
  try {
    return ejecutar(std::vector<std::string_view>(argv + (argc > 0 ? 1 : 0), argv + argc));
  } catch (const std::bad_alloc&) {
    // Told in Spanish rather than in the runtime's English last words.
    // exportar and verificar change nothing; importar answers for its own,
    // and respaldar removes its working folder as it unwinds.
    return fallar("No hay memoria para terminar");
  }
}
