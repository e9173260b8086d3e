// A clerk hammering the keyboard: seeded runs of random input, plausible
// answers mixed with noise, each run starting from the files the runs before
// it left. No run may crash, hang or print to standard error, and after each
// one every record of every file is one the program could have written.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "comun.hpp"
#include "files.hpp"
#include "store/registros.hpp"
#include "terminal.hpp"
#include "tests/store/modelo.hpp"

namespace {

// Random answers to the screens, and noise between them.
class Teclista {
 public:
  // `guardados`: codes of the students on file, for the deletions to find.
  Teclista(std::uint32_t semilla, std::vector<std::string> guardados)
      : azar_(semilla), guardados_(std::move(guardados)) {}

  std::string entrada() {
    // Some runs are a careful clerk, some a cat on the keyboard.
    const int desorden[] = {2, 10, 20, 40};
    desorden_ = desorden[entre(0, 3)];
    std::string texto;
    const int visitas = entre(1, 8);
    for (int v = 0; v < visitas; ++v) {
      ruidoQuizas(texto);
      switch (moneda(desorden_) ? 6 : entre(1, 5)) {
        case 1:
          alumnos(texto);
          break;
        case 2:
          cursos(texto);
          break;
        case 3:
          notas(texto);
          break;
        case 4:
          texto += opcion("4");
          for (int k = entre(0, 4); k > 0; --k)
            texto += tecla();
          break;
        case 5:
          borrado(texto);
          break;
        default:
          texto += menuRaro();
      }
    }
    if (moneda(30)) texto += "0\n";
    return texto;
  }

 private:
  int entre(int desde, int hasta) { return std::uniform_int_distribution(desde, hasta)(azar_); }
  bool moneda(int porciento) { return entre(1, 100) <= porciento; }
  char de(std::string_view letras) {
    return letras[static_cast<std::size_t>(entre(0, static_cast<int>(letras.size()) - 1))];
  }
  char byte() { return static_cast<char>(entre(0, 255)); }

  static constexpr std::string_view kDigitos = "0123456789";
  static constexpr std::string_view kLetras =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  static constexpr std::string_view kCualquiera =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz -_.,;:/\\'\"*#@!?\t";

  std::string opcion(const char* numero) {
    if (moneda(10)) return std::string("0") + numero + "\n";
    return std::string(numero) + "\n";
  }

  std::string menuRaro() {
    const char* raros[] = {"9\n",
                           "\n",
                           "x\n",
                           "12\n",
                           "-1\n",
                           "99999999999\n",
                           "0\n",
                           "6\n",
                           " 1\n",
                           "1 \n",
                           "00000000000000000001\n"};
    return raros[entre(0, static_cast<int>(std::size(raros)) - 1)];
  }

  std::string letras(int desde, int hasta) {
    std::string s;
    for (int n = entre(desde, hasta); n > 0; --n)
      s += de(kLetras);
    return s;
  }

  std::string cualquiera(int desde, int hasta) {
    std::string s;
    for (int n = entre(desde, hasta); n > 0; --n)
      s += moneda(10) ? byte() : de(kCualquiera);
    return s;
  }

  // A name: letters that fit; now and then one a clerk would really type
  // ("De la Cruz", "O'Brien", "Muñoz"); else too many letters, or anything.
  std::string nombre(int largo) {
    if (moneda(10)) {
      const char* raros[] = {" ", "'", "-", "1", "\xf1", "\xc3\xb1", "\t", "."};
      std::string nombre = letras(1, largo - 1);
      nombre.insert(static_cast<std::size_t>(entre(0, static_cast<int>(nombre.size()))),
                    raros[entre(0, static_cast<int>(std::size(raros)) - 1)]);
      return nombre + "\n";
    }
    if (!moneda(desorden_)) return letras(0, largo) + "\n";
    if (moneda(50)) return letras(largo + 1, largo + 60) + "\n";
    return cualquiera(0, 30) + "\n";
  }

  std::string numero(int minimo, int maximo) {
    if (!moneda(desorden_)) return std::to_string(entre(minimo, maximo)) + "\n";
    if (moneda(70)) {
      const char* fuera[] = {
          "-1",  "61",         "21",        "6", "0", "100", "99999999999999999999",
          "007", "2147483648", "4294967296"};
      return std::string(fuera[entre(0, static_cast<int>(std::size(fuera)) - 1)]) + "\n";
    }
    return cualquiera(0, 10) + "\n";
  }

  // Codes from a small pool, so that duplicates and deletions find them.
  std::string codigoAlumno() {
    if (!moneda(desorden_ + 10)) {
      char codigo[16];
      std::snprintf(codigo, sizeof codigo, "%08d%c", entre(0, 60), de("ABa"));
      return codigo;
    }
    return cualquiera(0, 12);
  }

  std::string codigoCurso() {
    if (!moneda(desorden_ + 10)) {
      std::string codigo = {de("AM"), de("AB")};
      for (int i = 0; i < 3; ++i)
        codigo += de("012");
      return codigo + de("Ab");
    }
    return cualquiera(0, 8);
  }

  std::string tecla() {
    if (moneda(70)) return std::string(1, de(kCualquiera));
    if (moneda(50)) return std::string(1, byte());
    return secuencia();
  }

  std::string secuencia() {
    const char* secuencias[] = {
        "\x1b[A", "\x1b[B",     "\x1bOP",   "\x1b[15~",           "\x1b[1;5C",
        "\x1b",   "\x1b[",      "\x1bO",    "\x1b[999999999999~", "\x1b[<0;1;1M",
        "\x1b[Z", "\x1b\x1b[A", "\xc3\xa9", "\xe2\x82\xac",       "\x7f",
        "\b",     "\r\n",       "\x03"};
    return secuencias[entre(0, static_cast<int>(std::size(secuencias)) - 1)];
  }

  // The answer to an S/N question, after any stray keys: `si` usually.
  std::string siNo(bool si) {
    std::string teclas;
    while (moneda(desorden_))
      teclas += tecla();
    if (moneda(desorden_)) si = !si;
    return teclas + (si ? de("Ss") : de("Nn"));
  }

  void ruidoQuizas(std::string& texto) {
    if (!moneda(desorden_)) return;
    switch (entre(1, 5)) {
      case 1:
        for (int n = entre(1, 30); n > 0; --n)
          texto += byte();
        break;
      case 2:
        texto += secuencia();
        break;
      case 3:
        texto += cualquiera(300, 3000) + "\n";
        break;
      case 4:
        texto += std::string(static_cast<std::size_t>(entre(1, 5)), '\n');
        break;
      default:
        texto += std::string(static_cast<std::size_t>(entre(1, 3)), '\0');
    }
  }

  void alumnos(std::string& texto) {
    texto += opcion("1");
    for (int n = entre(1, 3); n > 0; --n) {
      texto += codigoAlumno();
      ruidoQuizas(texto);
      texto += nombre(19) + nombre(19) + numero(0, 60);
      ruidoQuizas(texto);
      texto += siNo(n > 1);
    }
    texto += tecla();
  }

  void cursos(std::string& texto) {
    texto += opcion("2");
    for (int n = entre(1, 3); n > 0; --n) {
      texto += codigoCurso();
      ruidoQuizas(texto);
      texto += nombre(39) + numero(1, 5) + tecla();
      texto += siNo(n > 1);
    }
  }

  void notas(std::string& texto) {
    texto += opcion("3");
    for (int n = entre(1, 2); n > 0; --n) {
      texto += (moneda(70) ? codigoAlumno() : cualquiera(0, 20)) + "\n";
      texto += (moneda(70) ? codigoCurso() : cualquiera(0, 12)) + "\n";
      for (int i = 0; i < 5; ++i)
        texto += numero(0, 20);
      ruidoQuizas(texto);
      texto += tecla() + siNo(n > 1);
    }
  }

  void borrado(std::string& texto) {
    texto += opcion("5");
    if (!guardados_.empty() && moneda(50)) {
      texto +=
          guardados_[static_cast<std::size_t>(entre(0, static_cast<int>(guardados_.size()) - 1))];
      texto += "\n";
    } else {
      texto += codigoAlumno() + "\n";
    }
    texto += siNo(!moneda(20));
    for (int k = entre(0, 3); k > 0; --k)
      texto += tecla();
  }

  std::mt19937 azar_;
  std::vector<std::string> guardados_;
  int desorden_ = 0;  // per cent of answers that are wrong, and of places with noise
};

// ------------------------------------------------------------------------
// What may be found in the files.

constexpr std::size_t kAlumno = store::Formato<store::Alumno>::tamano;
constexpr std::size_t kCurso = store::Formato<store::Curso>::tamano;
constexpr std::size_t kNota = store::Formato<store::NotaAlumno>::tamano;

bool esLetra(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool esDigito(unsigned char c) {
  return c >= '0' && c <= '9';
}

std::vector<std::string> partir(const std::string& bytes, std::size_t tamano) {
  std::vector<std::string> registros;
  for (std::size_t i = 0; i + tamano <= bytes.size(); i += tamano)
    registros.push_back(bytes.substr(i, tamano));
  return registros;
}

std::int32_t entero(const std::string& registro, std::size_t desde) {
  return store::tomarEntero(reinterpret_cast<const unsigned char*>(registro.data()) + desde);
}

// Why a course record could not have been written by the program; empty when
// it could.
std::string cursoInvalido(const std::string& r) {
  const auto u = [&](std::size_t i) { return static_cast<unsigned char>(r[i]); };
  if (!esLetra(u(0)) || !esLetra(u(1)) || !esDigito(u(2)) || !esDigito(u(3)) || !esDigito(u(4)) ||
      !esLetra(u(5))) {
    return "code";
  }
  std::size_t i = store::Formato<store::Curso>::nombre;
  const std::size_t fin = i + sizeof(store::Curso::nombre);
  while (i < fin && esLetra(u(i)))
    ++i;
  if (i == fin || r[i] != '\0') return "name";
  const std::int32_t creditos = entero(r, store::Formato<store::Curso>::creditos);
  if (creditos < 1 || creditos > 5) return "credits " + std::to_string(creditos);
  return "";
}

std::string notaInvalida(const std::string& r) {
  for (std::size_t campo = store::Formato<store::NotaAlumno>::practica1; campo < kNota;
       campo += 4) {
    const std::int32_t nota = entero(r, campo);
    if (nota < 0 || nota > 20) return "grade " + std::to_string(nota);
  }
  return "";
}

std::string codigoDe(const std::string& alumno) {
  return alumno.substr(0, 9);
}

std::size_t veces(const std::string& texto, const std::string& buscado) {
  std::size_t n = 0;
  for (std::size_t p = texto.find(buscado); p != std::string::npos; p = texto.find(buscado, p + 1))
    ++n;
  return n;
}

std::string leerSiHay(const harness::ScratchDir& dir, const std::string& nombre) {
  return dir.exists(nombre) ? dir.read(nombre) : "";
}

// Every record valid, none duplicated, none changed: a student only removed
// by a deletion of its code that the clerk confirmed (the input may end at the
// key the deletion waits for before it says so), or appended; courses and
// grades only appended.
// What a run changed, for the summary.
struct Cambios {
  std::size_t alumnosNuevos = 0;
  std::size_t alumnosQuitados = 0;
  std::size_t cursosNuevos = 0;
  std::size_t notasNuevas = 0;
};

Cambios expectArchivosValidos(const harness::ScratchDir& dir, const std::string& alumnosAntes,
                              const std::string& cursosAntes, const std::string& notasAntes,
                              const std::string& entrada, const std::string& salida) {
  Cambios cambios;
  for (const std::string& nombre : dir.names()) {
    EXPECT_TRUE(nombre == "ALUMNO.txt" || nombre == "CURSO.txt" || nombre == "NOTAALUMNO.txt")
        << "left behind: " << nombre;
  }

  const std::string alumnos = leerSiHay(dir, "ALUMNO.txt");
  EXPECT_EQ(alumnos.size() % kAlumno, 0u) << "ALUMNO.txt has " << alumnos.size() << " bytes";
  std::set<std::string> codigos;
  for (const std::string& r : partir(alumnos, kAlumno)) {
    EXPECT_TRUE(store::alumnoValido(
        store::BytesDe<store::Alumno>(reinterpret_cast<const unsigned char*>(r.data()), kAlumno)))
        << "student " << codigoDe(r);
    EXPECT_TRUE(codigos.insert(codigoDe(r)).second) << "twice: " << codigoDe(r);
  }
  // The old students still there come first, in their order and unchanged;
  // the others were deleted; the new ones follow.
  const std::vector<std::string> viejos = partir(alumnosAntes, kAlumno);
  const std::vector<std::string> ahora = partir(alumnos, kAlumno);
  std::size_t j = 0;
  std::size_t quitados = 0;
  for (const std::string& viejo : viejos) {
    if (j < ahora.size() && ahora[j] == viejo) {
      ++j;
      continue;
    }
    ++quitados;
    const std::string codigo(viejo.c_str());
    EXPECT_NE(entrada.find("\n" + codigo + "\n"), std::string::npos)
        << "student " << codigo << " lost or changed, and no deletion named it";
  }
  EXPECT_LE(quitados, veces(salida, "..SEGURO que desea BORRARLO")) << "students lost or changed";
  EXPECT_LE(ahora.size() - j, veces(salida, fallos::kOtroAlumno)) << "students appeared";
  cambios.alumnosNuevos = ahora.size() - j;
  cambios.alumnosQuitados = quitados;

  const std::string cursos = leerSiHay(dir, "CURSO.txt");
  EXPECT_EQ(cursos.size() % kCurso, 0u) << "CURSO.txt has " << cursos.size() << " bytes";
  EXPECT_EQ(cursos.substr(0, cursosAntes.size()), cursosAntes) << "courses changed";
  EXPECT_EQ((cursos.size() - cursosAntes.size()) / kCurso, veces(salida, fallos::kCursoRegistrado));
  std::set<std::string> codigosCurso;
  for (const std::string& r : partir(cursos, kCurso)) {
    EXPECT_EQ(cursoInvalido(r), "") << "course " << r.substr(0, 6);
    EXPECT_TRUE(codigosCurso.insert(r.substr(0, 6)).second) << "twice: " << r.substr(0, 6);
  }

  const std::string notas = leerSiHay(dir, "NOTAALUMNO.txt");
  EXPECT_EQ(notas.size() % kNota, 0u) << "NOTAALUMNO.txt has " << notas.size() << " bytes";
  EXPECT_EQ(notas.substr(0, notasAntes.size()), notasAntes) << "grades changed";
  for (const std::string& r : partir(notas, kNota))
    EXPECT_EQ(notaInvalida(r), "");
  cambios.cursosNuevos = cursos.size() / kCurso - cursosAntes.size() / kCurso;
  cambios.notasNuevas = notas.size() / kNota - notasAntes.size() / kNota;
  return cambios;
}

std::string legible(const std::string& bytes) {
  std::string texto;
  for (const char c : bytes.substr(0, 3000)) {
    const auto u = static_cast<unsigned char>(c);
    if (u == '\n') {
      texto += "\\n";
    } else if (u == '\\') {
      texto += "\\\\";
    } else if (u < 0x20 || u >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", u);
      texto += hex;
    } else {
      texto += c;
    }
  }
  return bytes.size() > 3000 ? texto + "..." : texto;
}

// The files a failing run started from and its input, kept where a developer
// can replay it by hand: cd there and run the program with the input.
std::string guardarParaRepetir(const std::map<std::string, std::string>& archivos,
                               const std::string& entrada) {
  const char* base = std::getenv("TMPDIR");
  std::string ruta =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/alumnos-repetir-XXXXXX";
  if (::mkdtemp(ruta.data()) == nullptr) return "(could not keep it)";
  auto escribir = [&](const std::string& nombre, const std::string& bytes) {
    const int fd =
        ::open((ruta + "/" + nombre).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    for (std::size_t hecho = 0; hecho < bytes.size();) {
      const ssize_t n = ::write(fd, bytes.data() + hecho, bytes.size() - hecho);
      if (n <= 0) break;
      hecho += static_cast<std::size_t>(n);
    }
    ::close(fd);
  };
  for (const auto& [nombre, bytes] : archivos)
    escribir(nombre, bytes);
  escribir("entrada.bin", entrada);
  return "cd " + ruta + " && alumnos < entrada.bin";
}

// How far the runs got, for the summary: the screens each run reached.
struct Visto {
  const char* que;
  std::string texto;
};
const Visto kVistos[] = {
    {"deletions shown", fallos::kEliminado},
    {"students not found", fallos::kNoEsta},
    {"duplicate students", " El alumno ya existe  "},
    {"duplicate courses", "Registro DE CURSO YA EXISTE"},
    {"too many wrong entries", "Vuelva otro dia"},
};

// Each series grows its own files; the series run side by side.
constexpr int kSeries = 3;
constexpr int kCorridasPorSerie = 100;

class RandomKeyboard : public ::testing::TestWithParam<int> {};

TEST_P(RandomKeyboard, NoRunCrashesHangsOrLeavesARecordTheProgramCouldNotHaveWritten) {
  const int serie = GetParam();
  harness::ScratchDir dir;
  // A school already at work: students whose codes the runs type, courses,
  // grades.
  std::string alumnos;
  for (int i = 0; i < 20; ++i) {
    char codigo[16];
    std::snprintf(codigo, sizeof codigo, "%08d%c", i * 3, i % 2 == 0 ? 'A' : 'B');
    alumnos += fallos::alumnoTecleado(codigo, "Apellido", "Nombre", 18 + i);
  }
  dir.write("ALUMNO.txt", alumnos);
  dir.write("CURSO.txt", fallos::curso("MA012A", "Matematica", 4) +
                             fallos::curso("BB321b", "Biologia", 3) +
                             fallos::curso("AM100B", "Arte", 1));
  dir.write("NOTAALUMNO.txt", fallos::nota("00000000A", "MA012A", {20, 15, 10, 5, 0}) +
                                  fallos::nota("00000003B", "BB321b", {11, 12, 13, 14, 15}));
  harness::Options opciones;
  opciones.deadline = std::chrono::seconds(5);
  std::size_t bytesTecleados = 0;
  std::array<std::size_t, std::size(kVistos)> vistos{};
  Cambios total;
  for (int corrida = 0; corrida < kCorridasPorSerie; ++corrida) {
    const auto semilla = static_cast<std::uint32_t>(1000 * serie + corrida);
    std::map<std::string, std::string> antes;
    for (const std::string& nombre : dir.names())
      antes[nombre] = dir.read(nombre);
    std::vector<std::string> guardados;
    for (const std::string& r : partir(antes["ALUMNO.txt"], kAlumno))
      guardados.push_back(codigoDe(r));
    Teclista teclista(semilla, guardados);
    const std::string entrada = teclista.entrada();
    bytesTecleados += entrada.size();

    harness::Script s;
    std::string falla;
    try {
      s = harness::runScript(dir.path(), entrada, opciones);
    } catch (const harness::Failure& f) {
      falla = f.what();
    }
    const bool fallo = ::testing::Test::HasFailure();
    {
      SCOPED_TRACE("series " + std::to_string(serie) + ", run " + std::to_string(corrida) +
                   ", seed " + std::to_string(semilla) + "; input: \"" + legible(entrada) + "\"");
      if (!falla.empty()) {
        ADD_FAILURE() << "no end within 5 s: " << falla
                      << "\nreplay: " << guardarParaRepetir(antes, entrada);
        return;
      }
      EXPECT_EQ(s.status, 0);
      EXPECT_EQ(s.errors, "");
      const Cambios c = expectArchivosValidos(dir, antes["ALUMNO.txt"], antes["CURSO.txt"],
                                              antes["NOTAALUMNO.txt"], entrada, s.output);
      total.alumnosNuevos += c.alumnosNuevos;
      total.alumnosQuitados += c.alumnosQuitados;
      total.cursosNuevos += c.cursosNuevos;
      total.notasNuevas += c.notasNuevas;
    }
    for (std::size_t i = 0; i < std::size(kVistos); ++i)
      vistos[i] += veces(s.output, kVistos[i].texto);
    if (!fallo && ::testing::Test::HasFailure()) {
      ADD_FAILURE() << "replay: " << guardarParaRepetir(antes, entrada);
      return;
    }
  }
  std::printf(
      "series %d: %d runs, %zu bytes typed; %zu students stored and %zu deleted, %zu courses and "
      "%zu grade records stored; files left: %zu students, %zu courses, %zu grade records;",
      serie, kCorridasPorSerie, bytesTecleados, total.alumnosNuevos, total.alumnosQuitados,
      total.cursosNuevos, total.notasNuevas, leerSiHay(dir, "ALUMNO.txt").size() / kAlumno,
      leerSiHay(dir, "CURSO.txt").size() / kCurso, leerSiHay(dir, "NOTAALUMNO.txt").size() / kNota);
  for (std::size_t i = 0; i < std::size(kVistos); ++i)
    std::printf(" %s %zu,", kVistos[i].que, vistos[i]);
  std::printf("\n");
}

INSTANTIATE_TEST_SUITE_P(Faults, RandomKeyboard, ::testing::Range(0, kSeries),
                         [](const auto& caso) { return "Series" + std::to_string(caso.param); });

}  // namespace
