// The program run under strace, which can fail or kill it at one exact system
// call: the only way to reach some moments of a file operation from outside.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files.hpp"
#include "terminal.hpp"

namespace harness {

inline std::optional<std::string> buscarEnPath(std::string_view programa) {
  const char* path = std::getenv("PATH");
  std::string_view resto = path != nullptr ? path : "/usr/bin:/bin";
  while (!resto.empty()) {
    const std::size_t fin = resto.find(':');
    std::string candidato(resto.substr(0, fin));
    candidato += '/';
    candidato += programa;
    if (::access(candidato.c_str(), X_OK) == 0) return candidato;
    resto.remove_prefix(fin == std::string_view::npos ? resto.size() : fin + 1);
  }
  return std::nullopt;
}

// strace's path, when it is installed and may trace a child here (a container
// can forbid ptrace).
inline std::optional<std::string> straceUtilizable() {
  const std::optional<std::string> strace = buscarEnPath("strace");
  const std::optional<std::string> verdadero = buscarEnPath("true");
  if (!strace || !verdadero) return std::nullopt;
  harness::ScratchDir dir;
  harness::Options opciones;
  opciones.program = *strace;
  opciones.args = {"-f", "-o", "/dev/null", *verdadero};
  if (harness::runScript(dir.path(), "", opciones).status != 0) return std::nullopt;
  return strace;
}

// Options that run `programa` (alumnos by default; its path and arguments)
// under strace with `reglas` (such as "-e", "inject=..."), strace's own
// report written to `registro` (thrown away by default).
inline harness::Options bajoStrace(const std::string& strace, std::vector<std::string> reglas,
                                   const std::string& registro = "/dev/null",
                                   const std::vector<std::string>& programa = {ALUMNOS_BINARY}) {
  harness::Options opciones;
  opciones.program = strace;
  opciones.args = {"-f", "-qq", "-o", registro};
  opciones.args.insert(opciones.args.end(), reglas.begin(), reglas.end());
  opciones.args.insert(opciones.args.end(), programa.begin(), programa.end());
  // LeakSanitizer cannot work under a tracer and would fail every run at its
  // end; the sanitizer build's other checks still run.
  const char* asan = std::getenv("ASAN_OPTIONS");
  opciones.env.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") +
                         (asan != nullptr && *asan != '\0' ? ":" : "") + "detect_leaks=0");
  return opciones;
}

}  // namespace harness
