// The program's system calls as strace logs them, read back call by call, so
// that a test can name one exact call (the third pwrite64, the rename...) and
// have strace fail it or kill the program there.
//
// strace counts the calls it injects into per system call name, from the
// program's start: `inject=fsync:error=EIO:when=2` fails the second fsync,
// whatever file it is on. Llamada::vez is that number, so a call found in one
// logged run is reached again by a run of the same input on the same files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "files.hpp"
#include "strace.hpp"
#include "terminal.hpp"

namespace fallos {

struct Llamada {
  std::string nombre;  // "pwrite64"
  int vez = 0;         // 1 for the run's first call of this name, 2 for the next...
  // What the call works on: a name in the program's directory ("ALUMNO.txt"),
  // "." for the directory itself, anything else as strace shows it ("/dev/tty",
  // "pipe"); empty when the call names no file.
  std::string objetivo;
  int descriptor = -1;               // the first argument, when it is a descriptor
  std::string datos;                 // the bytes of a write or pwrite64
  std::int64_t desplazamiento = -1;  // where a pwrite64 writes
  std::string resultado;             // what follows " = "
  bool inyectada = false;            // strace changed its result
  std::string linea;                 // as logged, for messages
};

struct Traza {
  harness::Script script;
  std::vector<Llamada> llamadas;
  bool muerta = false;  // the log ends with the program killed by SIGKILL
};

// A logged string's bytes: strace -xx writes every byte as \xHH; the other
// escapes are read too, in case a log was written without it.
inline std::string desescapar(std::string_view texto) {
  std::string bytes;
  for (std::size_t i = 0; i < texto.size(); ++i) {
    if (texto[i] != '\\' || i + 1 >= texto.size()) {
      bytes += texto[i];
      continue;
    }
    const char c = texto[++i];
    auto valorHex = [](char h) {
      return h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : h - 'A' + 10;
    };
    if (c == 'x' && i + 2 < texto.size()) {
      bytes += static_cast<char>(valorHex(texto[i + 1]) * 16 + valorHex(texto[i + 2]));
      i += 2;
    } else if (c >= '0' && c <= '7') {
      int valor = 0;
      std::size_t j = i;
      for (; j < texto.size() && j < i + 3 && texto[j] >= '0' && texto[j] <= '7'; ++j)
        valor = valor * 8 + (texto[j] - '0');
      bytes += static_cast<char>(valor);
      i = j - 1;
    } else {
      switch (c) {
        case 'n':
          bytes += '\n';
          break;
        case 'r':
          bytes += '\r';
          break;
        case 't':
          bytes += '\t';
          break;
        case 'v':
          bytes += '\v';
          break;
        case 'f':
          bytes += '\f';
          break;
        default:
          bytes += c;
      }
    }
  }
  return bytes;
}

namespace detalle {

// The quoted string that starts at `desde` (its opening quote), decoded;
// `fin` is left after the closing quote.
inline std::string cadena(std::string_view texto, std::size_t desde, std::size_t& fin) {
  std::size_t i = desde + 1;
  while (i < texto.size() && texto[i] != '"')
    i += texto[i] == '\\' ? 2 : 1;
  fin = i + 1;
  return desescapar(texto.substr(desde + 1, i - desde - 1));
}

inline std::string relativo(const std::string& ruta, const std::string& directorio) {
  if (ruta == directorio) return ".";
  // "pipe:[1234]": the number changes from run to run, the kind does not.
  if (const std::size_t corchete = ruta.find(":["); corchete != std::string::npos) {
    return ruta.substr(0, corchete);
  }
  if (ruta.size() > directorio.size() && ruta.compare(0, directorio.size(), directorio) == 0 &&
      ruta[directorio.size()] == '/') {
    return ruta.substr(directorio.size() + 1);
  }
  return ruta;
}

inline void leerArgumentos(std::string_view argumentos, const std::string& directorio,
                           Llamada& llamada) {
  std::size_t fin = 0;
  if (!argumentos.empty() && argumentos[0] >= '0' && argumentos[0] <= '9') {
    // Only a small number is a descriptor; addresses and counts are not.
    const std::string numero(argumentos.substr(0, argumentos.find_first_not_of("0123456789")));
    if (numero.size() <= 6) llamada.descriptor = std::stoi(numero);
    const std::size_t abre = argumentos.find('<');
    const std::size_t cierra = argumentos.find('>', abre);
    if (abre != std::string_view::npos && cierra != std::string_view::npos) {
      llamada.objetivo =
          relativo(desescapar(argumentos.substr(abre + 1, cierra - abre - 1)), directorio);
    }
    if (const std::size_t comilla = argumentos.find('"', cierra);
        comilla != std::string_view::npos &&
        (llamada.nombre == "write" || llamada.nombre == "pwrite64")) {
      llamada.datos = cadena(argumentos, comilla, fin);
    }
    if (llamada.nombre == "pwrite64") {
      const std::size_t coma = argumentos.rfind(", ");
      llamada.desplazamiento =
          std::strtoll(std::string(argumentos.substr(coma + 2)).c_str(), nullptr, 10);
    }
  } else if (const std::size_t comilla = argumentos.find('"');
             comilla != std::string_view::npos &&
             (argumentos.starts_with("AT_FDCWD") || argumentos.starts_with("\""))) {
    llamada.objetivo = relativo(cadena(argumentos, comilla, fin), directorio);
  }
}

}  // namespace detalle

// Every call of a log written with -f -y -xx, numbered by name in order.
inline std::vector<Llamada> leerTraza(const std::string& texto, const std::string& directorio,
                                      bool& muerta) {
  std::vector<Llamada> llamadas;
  std::vector<std::pair<std::string, int>> veces;
  muerta = false;
  std::size_t inicio = 0;
  while (inicio < texto.size()) {
    std::size_t fin = texto.find('\n', inicio);
    if (fin == std::string::npos) fin = texto.size();
    const std::string_view linea(texto.data() + inicio, fin - inicio);
    inicio = fin + 1;
    // "PID name(arguments) = result", the PID padded with blanks.
    const std::size_t pid = linea.find_first_not_of(' ');
    const std::size_t espacio = linea.find(' ', pid);
    if (pid == std::string_view::npos || espacio == std::string_view::npos) continue;
    const std::size_t nombre = linea.find_first_not_of(' ', espacio);
    if (nombre == std::string_view::npos) continue;
    const std::string_view resto = linea.substr(nombre);
    if (resto.starts_with("+++ killed by SIGKILL")) muerta = true;
    if (resto.starts_with("+++") || resto.starts_with("---") || resto.starts_with("<...")) {
      continue;
    }
    const std::size_t parentesis = resto.find('(');
    if (parentesis == std::string_view::npos) continue;
    Llamada llamada;
    llamada.nombre = std::string(resto.substr(0, parentesis));
    llamada.linea = std::string(linea);
    const std::size_t igual = resto.rfind(") = ");
    const std::size_t finArgumentos = igual == std::string_view::npos ? resto.size() : igual;
    if (igual != std::string_view::npos) llamada.resultado = std::string(resto.substr(igual + 4));
    llamada.inyectada = llamada.resultado.find("(INJECTED)") != std::string::npos;
    detalle::leerArgumentos(resto.substr(parentesis + 1, finArgumentos - parentesis - 1),
                            directorio, llamada);
    auto cuenta = veces.begin();
    while (cuenta != veces.end() && cuenta->first != llamada.nombre)
      ++cuenta;
    if (cuenta == veces.end()) cuenta = veces.insert(veces.end(), {llamada.nombre, 0});
    llamada.vez = ++cuenta->second;
    llamadas.push_back(std::move(llamada));
  }
  return llamadas;
}

// Runs the program (`programa`, as bajoStrace takes it) in `dir` on `entrada`
// under strace with `reglas` and reads its log. `largoCadenas` bounds the
// bytes logged of each string (strace -s).
inline Traza trazar(const std::string& strace, const harness::ScratchDir& dir,
                    std::string_view entrada, const std::vector<std::string>& reglas,
                    int largoCadenas = 64,
                    const std::vector<std::string>& programa = {ALUMNOS_BINARY}) {
  harness::ScratchDir registros;
  const std::string registro = registros.path() + "/strace.log";
  std::vector<std::string> todas = {"-y", "-xx", "-s", std::to_string(largoCadenas)};
  todas.insert(todas.end(), reglas.begin(), reglas.end());
  Traza traza;
  traza.script = harness::runScript(dir.path(), entrada,
                                    harness::bajoStrace(strace, todas, registro, programa));
  if (!registros.exists("strace.log")) {
    throw std::runtime_error("strace wrote no log: " + traza.script.errors);
  }
  // strace names files by their real paths.
  const std::string directorio = std::filesystem::canonical(dir.path()).string();
  traza.llamadas = leerTraza(registros.read("strace.log"), directorio, traza.muerta);
  return traza;
}

// The rules that fail call `llamada` with `error`, or kill the program there
// (error "KILL"); only calls of its name are logged.
inline std::vector<std::string> reglasPara(const Llamada& llamada, const std::string& error) {
  const std::string efecto = error == "KILL" ? "signal=KILL" : "error=" + error;
  return {"-e", "trace=" + llamada.nombre, "-e",
          "inject=" + llamada.nombre + ":" + efecto + ":when=" + std::to_string(llamada.vez)};
}

// strace, when it is there and may trace here; otherwise the reason to skip.
inline std::optional<std::string> straceOSaltar(std::string& motivo) {
  std::optional<std::string> strace = harness::straceUtilizable();
  if (!strace)
    motivo = "strace is missing, or ptrace is not allowed here (a container may forbid it)";
  return strace;
}

// A call for a failure message: its name, its number and what it works on.
inline std::string describir(const Llamada& llamada) {
  return llamada.nombre + " #" + std::to_string(llamada.vez) +
         (llamada.objetivo.empty() ? "" : " on " + llamada.objetivo);
}

}  // namespace fallos
