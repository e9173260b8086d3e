// Several copies of the program at work in one directory at once, as clerks
// at two desks or in two windows run it: nothing entered is lost, nothing
// deleted comes back, a code is stored once, no copy waits on another's
// clerk, and a copy kept waiting too long says so and changes nothing.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "alumnos.hpp"
#include "comun.hpp"
#include "files.hpp"
#include "terminal.hpp"
#ifdef ALUMNOS_WINDOWS_BUILD
#include "wine.hpp"
#endif

namespace {

using namespace std::chrono_literals;
using harness::Estudiante;
using harness::Terminal;
using Reloj = std::chrono::steady_clock;

const std::string kAlumnos = "ALUMNO.txt";
const std::string kCursos = "CURSO.txt";
const std::string kNotas = "NOTAALUMNO.txt";
const std::string kYaExiste = " El alumno ya existe  ";
const std::string kCursoYaExiste = " Registro DE CURSO YA EXISTE ...!!!";

std::string enUso(const std::string& archivo) {
  return " Archivo " + archivo + " en uso, intente mas tarde ...!!! ";
}

// The lock every copy takes on a record file, taken by the test as another
// copy would take it: one byte at 2^62, far past any data.
class Cerrojo {
 public:
  explicit Cerrojo(const std::string& archivo)
      : descriptor_(::open(archivo.c_str(), O_RDWR | O_CLOEXEC)) {}
  ~Cerrojo() { soltar(); }
  Cerrojo(const Cerrojo&) = delete;
  Cerrojo& operator=(const Cerrojo&) = delete;

  // Without waiting; false when a copy holds it.
  bool tomar() {
    struct flock cerrojo {};
    cerrojo.l_type = F_WRLCK;
    cerrojo.l_whence = SEEK_SET;
    cerrojo.l_start = off_t{1} << 62;
    cerrojo.l_len = 1;
    return ::fcntl(descriptor_, F_OFD_SETLK, &cerrojo) == 0;
  }
  void soltar() {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
  }

 private:
  int descriptor_;
};

bool libre(const std::string& archivo) {
  return Cerrojo(archivo).tomar();
}

// Returns once the copy sleeps between two tries at a lock. Where the kernel
// does not tell what a process is doing, a second is taken as enough.
void esperarQueEspere(pid_t pid) {
  const Reloj::time_point limite = Reloj::now() + 8s;
  for (;;) {
    std::ifstream llamada("/proc/" + std::to_string(pid) + "/syscall");
    long numero = -1;
    if (!(llamada >> numero)) {
      std::this_thread::sleep_for(1s);
      return;
    }
    if (numero == SYS_clock_nanosleep || numero == SYS_nanosleep) return;
    ASSERT_LT(Reloj::now(), limite) << "the copy never came to wait for the lock";
    std::this_thread::sleep_for(2ms);
  }
}

harness::Options conPlazo(std::chrono::milliseconds plazo) {
  harness::Options opciones;
  opciones.deadline = plazo;
  return opciones;
}

struct Copia {
  harness::Script script;
  double segundos = 0;
};

// One copy of the program per input, all started at once in `dir`: the
// POSIX program, or the one `programa` says.
std::vector<Copia> aLaVez(const harness::ScratchDir& dir, const std::vector<std::string>& entradas,
                          const harness::Options& programa = conPlazo(60s)) {
  std::vector<Copia> copias(entradas.size());
  std::vector<std::exception_ptr> errores(entradas.size());
  std::vector<std::thread> hilos;
  for (std::size_t i = 0; i < entradas.size(); ++i) {
    hilos.emplace_back([&, i] {
      const Reloj::time_point inicio = Reloj::now();
      try {
        copias[i].script = harness::runScript(dir.path(), entradas[i], programa);
      } catch (...) {
        errores[i] = std::current_exception();
      }
      copias[i].segundos = std::chrono::duration<double>(Reloj::now() - inicio).count();
    });
  }
  for (std::thread& hilo : hilos)
    hilo.join();
  for (const std::exception_ptr& error : errores)
    if (error) std::rethrow_exception(error);
  return copias;
}

std::string tecleado(const Estudiante& e) {
  return fallos::alumnoTecleado(e.codigo, e.apellido, e.nombre, e.edad);
}

// One visit to the student screen that enters `estudiantes`.
std::string altas(const std::vector<Estudiante>& estudiantes) {
  std::string entrada = "1\n";
  for (std::size_t i = 0; i < estudiantes.size(); ++i) {
    const Estudiante& e = estudiantes[i];
    entrada += e.codigo + e.apellido + "\n" + e.nombre + "\n" + std::to_string(e.edad) + "\n";
    entrada += i + 1 < estudiantes.size() ? "S" : "Nx";
  }
  return entrada + "0\n";
}

// One confirmed deletion per code.
std::string bajas(const std::vector<std::string>& codigos) {
  std::string entrada;
  for (const std::string& codigo : codigos)
    entrada += "5\n" + codigo + "\nSabc";
  return entrada + "0\n";
}

std::size_t veces(const std::string& texto, const std::string& buscado) {
  std::size_t n = 0;
  for (std::size_t p = texto.find(buscado); p != std::string::npos; p = texto.find(buscado, p + 1))
    ++n;
  return n;
}

// What a file holds against what it should: its records, those missing, and
// those that should not be there (a deleted one back, or one twice).
struct Recuento {
  std::size_t registros = 0;
  std::vector<std::string> perdidos, sobrantes;
};

// A file holds exactly the records of `grupos`, each once, with no fragment,
// and each group's records in the group's order.
Recuento expectExactamente(const std::string& bytes, std::size_t tamano,
                           const std::vector<std::vector<std::string>>& grupos) {
  EXPECT_EQ(bytes.size() % tamano, 0u) << "a fragment at the end";
  std::vector<std::string> registros;
  for (std::size_t i = 0; i + tamano <= bytes.size(); i += tamano)
    registros.push_back(bytes.substr(i, tamano));
  std::vector<std::string> esperados;
  for (const std::vector<std::string>& grupo : grupos) {
    auto desde = registros.cbegin();
    bool enOrden = true;
    for (const std::string& registro : grupo) {
      desde = std::find(desde, registros.cend(), registro);
      enOrden = enOrden && desde != registros.cend();
      if (enOrden) ++desde;
    }
    EXPECT_TRUE(enOrden) << "a group's records are missing or out of their order";
    esperados.insert(esperados.end(), grupo.begin(), grupo.end());
  }
  std::vector<std::string> tenidos = registros;
  std::sort(tenidos.begin(), tenidos.end());
  std::sort(esperados.begin(), esperados.end());
  std::vector<std::string> perdidos, sobrantes;
  std::set_difference(esperados.begin(), esperados.end(), tenidos.begin(), tenidos.end(),
                      std::back_inserter(perdidos));
  std::set_difference(tenidos.begin(), tenidos.end(), esperados.begin(), esperados.end(),
                      std::back_inserter(sobrantes));
  EXPECT_EQ(perdidos.size(), 0u) << "records lost";
  EXPECT_EQ(sobrantes.size(), 0u) << "records that should not be there, or twice";
  return {registros.size(), perdidos, sobrantes};
}

std::vector<std::string> comoRegistros(const std::vector<Estudiante>& estudiantes,
                                       std::string (*codificar)(const Estudiante&)) {
  std::vector<std::string> registros;
  for (const Estudiante& e : estudiantes)
    registros.push_back(codificar(e));
  return registros;
}

// Eight copies side by side, `rondas` times: four entering `porCopiaAltas`
// students each, four deleting `porCopiaBajas` each of those stored. Nothing entered is
// lost, nothing deleted comes back, nothing is stored twice, no deletion is
// refused, and no scratch file is left.
void ochoCopias(const harness::Options& programa, const char* cual, int rondas, int porCopiaAltas,
                int porCopiaBajas) {
  const int sembradosEnTodo = 4 * porCopiaBajas + 20;
  std::size_t revisados = 0, perdidos = 0, devueltos = 0, repetidos = 0, rechazados = 0;
  double masLarga = 0;
  for (int semilla = 1; semilla <= rondas; ++semilla) {
    SCOPED_TRACE("round with seed " + std::to_string(semilla));
    std::mt19937 azar(static_cast<unsigned>(semilla));
    harness::ScratchDir dir;
    std::vector<Estudiante> sembrados = harness::numerados(1, sembradosEnTodo);
    std::shuffle(sembrados.begin(), sembrados.end(), azar);
    dir.write(kAlumnos, harness::registros(sembrados));
    std::vector<Estudiante> borrados = sembrados;
    std::shuffle(borrados.begin(), borrados.end(), azar);
    borrados.resize(static_cast<std::size_t>(4 * porCopiaBajas));

    std::vector<std::string> entradas;
    std::vector<bool> borra;
    std::vector<std::vector<std::string>> grupos;
    for (int c = 0; c < 4; ++c) {
      const std::vector<Estudiante> propios =
          harness::numerados(1000 * (c + 1) + semilla, porCopiaAltas);
      entradas.push_back(altas(propios));
      borra.push_back(false);
      grupos.push_back(comoRegistros(propios, &tecleado));
      std::vector<std::string> codigos;
      for (int b = 0; b < porCopiaBajas; ++b)
        codigos.push_back(borrados[static_cast<std::size_t>(c * porCopiaBajas + b)].codigo);
      entradas.push_back(bajas(codigos));
      borra.push_back(true);
    }
    std::vector<Estudiante> quedan;
    for (const Estudiante& e : sembrados) {
      if (std::none_of(borrados.begin(), borrados.end(),
                       [&](const Estudiante& b) { return b.codigo == e.codigo; }))
        quedan.push_back(e);
    }
    grupos.push_back(comoRegistros(quedan, &harness::registro));

    const std::vector<Copia> copias = aLaVez(dir, entradas, programa);
    for (std::size_t i = 0; i < copias.size(); ++i) {
      const harness::Script& s = copias[i].script;
      SCOPED_TRACE("copy " + std::to_string(i));
      EXPECT_EQ(s.status, 0);
      EXPECT_EQ(s.errors, "");
      EXPECT_FALSE(fallos::muestra(s.output, enUso(kAlumnos)));
      const auto deBajas = static_cast<std::size_t>(porCopiaBajas);
      const std::size_t hechos = veces(s.output, fallos::kEliminado);
      EXPECT_EQ(hechos, borra[i] ? deBajas : 0);
      if (borra[i]) rechazados += deBajas - std::min(hechos, deBajas);
      EXPECT_EQ(veces(s.output, fallos::kOtroAlumno),
                borra[i] ? 0 : static_cast<std::size_t>(porCopiaAltas));
      masLarga = std::max(masLarga, copias[i].segundos);
    }
    const Recuento recuento = expectExactamente(dir.read(kAlumnos), 59, grupos);
    EXPECT_EQ(dir.names(), std::vector<std::string>{kAlumnos});
    revisados += recuento.registros;
    perdidos += recuento.perdidos.size();
    for (const std::string& sobrante : recuento.sobrantes) {
      const bool borrado = std::any_of(borrados.begin(), borrados.end(), [&](const Estudiante& b) {
        return harness::registro(b) == sobrante;
      });
      ++(borrado ? devueltos : repetidos);
    }
  }
  std::printf(
      "%s: %d rounds of 8 copies (4 entering %d students each, 4 deleting %d each): %zu records "
      "checked; %zu lost, %zu deleted ones back, %zu stored twice, %zu deletions refused; the "
      "longest copy ran %.2f s\n",
      cual, rondas, porCopiaAltas, porCopiaBajas, revisados, perdidos, devueltos, repetidos,
      rechazados, masLarga);
}

TEST(VariasCopias, EightCopiesEnteringAndDeletingStudentsLoseNothingAndBringNothingBack) {
  ochoCopias(conPlazo(60s), "alumnos", 6, 12, 5);
}

TEST(VariasCopias, CoursesAndGradesEnteredByEightCopiesAtOnceAreAllStored) {
  constexpr int kPorCopia = 10;
  harness::ScratchDir dir;
  std::vector<std::string> entradas;
  std::vector<std::vector<std::string>> cursos, notas;
  for (int c = 0; c < 4; ++c) {
    std::string curso = "2\n";
    std::string nota = "3\n";
    cursos.emplace_back();
    notas.emplace_back();
    for (int i = 0; i < kPorCopia; ++i) {
      const std::string otro = i + 1 < kPorCopia ? "S" : "N";
      char codigo[8];
      std::snprintf(codigo, sizeof codigo, "C%c%03dZ", 'A' + c, i);
      const std::string nombre = std::string("Curso") + static_cast<char>('a' + i);
      const int creditos = 1 + i % 5;
      curso += codigo + nombre + "\n" + std::to_string(creditos) + "\nx" + otro;
      cursos.back().push_back(fallos::curso(codigo, nombre, creditos));
      const std::string alumno = harness::numerado(100 * c + i).codigo;
      const std::vector<std::int32_t> valores = {i, c, 20 - i, 10, 20};
      nota += alumno + "\n" + codigo + "\n";
      for (const std::int32_t valor : valores)
        nota += std::to_string(valor) + "\n";
      nota += "x" + otro;
      notas.back().push_back(fallos::nota(alumno, codigo, valores));
    }
    entradas.push_back(curso + "0\n");
    entradas.push_back(nota + "0\n");
  }
  for (const Copia& copia : aLaVez(dir, entradas)) {
    EXPECT_EQ(copia.script.status, 0);
    EXPECT_EQ(copia.script.errors, "");
  }
  const std::size_t revisados = expectExactamente(dir.read(kCursos), 50, cursos).registros +
                                expectExactamente(dir.read(kNotas), 35, notas).registros;
  EXPECT_EQ(revisados, 2u * 4 * kPorCopia);
  std::printf("8 copies (4 entering courses, 4 grades): %zu records checked\n", revisados);
}

// A screen up to its append, left for the lock: the last key is sent and not
// waited for.
struct Visita {
  const char* name;
  std::string archivo;  // the file it appends to or rewrites
  std::vector<std::string> teclas;
};

void hastaElCerrojo(Terminal& t, const Visita& v) {
  for (std::size_t i = 0; i + 1 < v.teclas.size(); ++i)
    t.typeByteByByte(v.teclas[i]);
  t.send(v.teclas.back());
}

const Estudiante kJuan{"12345678A", "Perez", "Juan", 20};
const Estudiante kAna{"87654321B", "Lopez", "Ana", 19};
const Estudiante kLuis{"11111111C", "Ruiz", "Luis", 33};
const Estudiante kEva{"22222222D", "Soto", "Eva", 41};

TEST(VariasCopias, TheSameNewCodeTypedByThreeCopiesAtOnceIsStoredOnce) {
  struct Caso {
    Visita visita;
    std::string antes;
    std::string registro;  // stored by the one copy that gets there first
    std::string hecho;     // what that copy shows next, at (columna, fila)
    int columna, fila;
    bool terminan;  // the others end the program (students) or go back to the menu
  };
  const Caso casos[] = {
      {{"Students", kAlumnos, {"1\r", "11111111C", "Ruiz\r", "Luis\r", "33\r"}},
       harness::registro(kJuan),
       tecleado(kLuis),
       fallos::kOtroAlumno,
       15,
       8,
       true},
      {{"Courses", kCursos, {"2\r", "AB123C", "Quimica\r", "3\r"}},
       fallos::curso("ZZ999Z", "Arte", 1),
       fallos::curso("AB123C", "Quimica", 3),
       fallos::kCursoRegistrado,
       10,
       12,
       false},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.visita.name);
    harness::ScratchDir dir;
    dir.write(c.visita.archivo, c.antes);
    // Held by the test until the three have typed the code and every field,
    // so that each finds the code new at first and only the look under the
    // lock can tell.
    Cerrojo otraCopia(dir.path() + "/" + c.visita.archivo);
    ASSERT_TRUE(otraCopia.tomar());
    std::vector<std::unique_ptr<Terminal>> copias;
    for (int i = 0; i < 3; ++i) {
      copias.push_back(std::make_unique<Terminal>(dir.path()));
      hastaElCerrojo(*copias.back(), c.visita);
    }
    for (const auto& t : copias)
      esperarQueEspere(t->pid());
    otraCopia.soltar();

    int primeras = 0;
    for (const auto& t : copias) {
      t->settle();
      SCOPED_TRACE(t->dump());
      if (t->text(c.columna, c.fila, static_cast<int>(c.hecho.size())) == c.hecho) {
        ++primeras;
        continue;
      }
      // Refused as a code found at the code is, with the fields still shown.
      if (c.terminan) {
        EXPECT_EQ(t->waitExit(), 0);
        EXPECT_EQ(t->text(15, 8, 22), kYaExiste);
        EXPECT_EQ(t->row(9), std::string(17, ' ') + " * Apellido del alumno : Ruiz");
      } else {
        EXPECT_EQ(t->row(9), kCursoYaExiste);
        EXPECT_EQ(t->row(8), std::string(9, ' ') + " * Creditos         : 3");
        EXPECT_EQ(t->cursor(), (harness::Position{36, 9}));
        t->type("x");
        EXPECT_EQ(t->row(3), "                    BASE DE DATOS DE ALUMNOS");
      }
    }
    EXPECT_EQ(primeras, 1);
    EXPECT_EQ(dir.read(c.visita.archivo), c.antes + c.registro);
  }
}

// Nor is a file held open: where an open file cannot be replaced, that would
// keep another copy's deletion waiting.
TEST(VariasCopias, NoLockAndNoOpenFileAreHeldWhileTheClerkTypes) {
  const Visita visitas[] = {
      {"Students", kAlumnos, {"1\r", "11111111C", "Ruiz\r", "Luis\r", "33\r", "N", "x"}},
      {"Courses", kCursos, {"2\r", "AB123C", "Quimica\r", "3\r", "x", "N"}},
      {"Grades", kNotas, {"3\r", "12345678A\r", "AB123C\r", "1\r2\r3\r4\r", "5\r", "x", "N"}},
      {"Deletion", kAlumnos, {"5\r", "87654321B\r", "S", "a", "b", "c"}},
      {"Listing, three pages", kAlumnos, {"4\r", "x", "x", "x"}},
  };
  for (const Visita& v : visitas) {
    SCOPED_TRACE(v.name);
    harness::ScratchDir dir;
    dir.write(kAlumnos,
              harness::registros({kJuan, kAna}) + harness::registros(harness::numerados(1, 28)));
    dir.write(kCursos, "");
    dir.write(kNotas, "");
    Terminal t(dir.path());
    for (const std::string& teclas : v.teclas) {
      t.typeByteByByte(teclas);
      EXPECT_TRUE(libre(dir.path() + "/" + v.archivo)) << "after " << teclas << "\n" << t.dump();
      for (const std::string& archivo : {kAlumnos, kCursos, kNotas}) {
        EXPECT_FALSE(fallos::tieneAbierto(t.pid(), archivo))
            << archivo << " after " << teclas << "\n"
            << t.dump();
      }
    }
    EXPECT_EQ(t.row(3), "                    BASE DE DATOS DE ALUMNOS") << t.dump();
  }
}

// Ten seconds once: every screen that changes a file kept waiting at once.
TEST(VariasCopias, ACopyKeptWaitingTooLongSaysTheFileIsInUseAndChangesNothing) {
  const Visita visitas[] = {
      {"Students", kAlumnos, {"1\r", "11111111C", "Ruiz\r", "Luis\r", "33\r"}},
      {"Deletion", kAlumnos, {"5\r", "87654321B\r", "S"}},
      {"Grades", kNotas, {"3\r", "12345678A\r", "AB123C\r", "1\r2\r3\r4\r", "5\r"}},
      {"Courses", kCursos, {"2\r", "AB123C", "Quimica\r", "3\r"}},
  };
  harness::ScratchDir dir;
  const std::map<std::string, std::string> antes = {
      {kAlumnos, harness::registros({kJuan, kAna})},
      {kCursos, fallos::curso("ZZ999Z", "Arte", 1)},
      {kNotas, fallos::nota("1", "2", {0, 0, 0, 0, 0})}};
  for (const auto& [nombre, bytes] : antes)
    dir.write(nombre, bytes);
  Cerrojo alumnos(dir.path() + "/" + kAlumnos);
  Cerrojo cursos(dir.path() + "/" + kCursos);
  Cerrojo notas(dir.path() + "/" + kNotas);
  ASSERT_TRUE(alumnos.tomar() && cursos.tomar() && notas.tomar());

  std::vector<std::unique_ptr<Terminal>> copias;
  const Reloj::time_point inicio = Reloj::now();
  for (const Visita& v : visitas) {
    copias.push_back(std::make_unique<Terminal>(dir.path(), conPlazo(30s)));
    hastaElCerrojo(*copias.back(), v);
  }
  for (const auto& t : copias)
    esperarQueEspere(t->pid());

  // Given back in time: the course is stored as if nothing had happened.
  cursos.soltar();
  Terminal& curso = *copias.back();
  curso.settle();
  EXPECT_EQ(curso.text(10, 12, 25), fallos::kCursoRegistrado) << curso.dump();
  EXPECT_EQ(dir.read(kCursos), antes.at(kCursos) + fallos::curso("AB123C", "Quimica", 3));

  for (std::size_t i = 0; i + 1 < copias.size(); ++i) {
    Terminal& t = *copias[i];
    SCOPED_TRACE(visitas[i].name);
    t.settle();
    const double espera = std::chrono::duration<double>(Reloj::now() - inicio).count();
    const std::string aviso = enUso(visitas[i].archivo);
    EXPECT_EQ(t.text(10, 20, static_cast<int>(aviso.size())), aviso) << t.dump();
    EXPECT_GE(espera, 9.0) << "gave up before about ten seconds";
    t.type("k");
    EXPECT_EQ(t.row(3), "                    BASE DE DATOS DE ALUMNOS") << t.dump();
    std::printf("%s: in use after %.1f s\n", visitas[i].name, espera);
  }
  EXPECT_EQ(dir.read(kAlumnos), antes.at(kAlumnos));
  EXPECT_EQ(dir.read(kNotas), antes.at(kNotas));
  EXPECT_EQ(dir.names(), (std::vector<std::string>{kAlumnos, kCursos, kNotas}));
}

// The processes whose working directory is `directorio`, once there are
// `cuantos` of them.
std::vector<pid_t> trabajandoEn(const std::string& directorio, std::size_t cuantos) {
  const std::filesystem::path buscado = std::filesystem::canonical(directorio);
  const Reloj::time_point limite = Reloj::now() + 8s;
  for (;;) {
    std::vector<pid_t> hallados;
    for (const auto& entrada : std::filesystem::directory_iterator("/proc")) {
      std::error_code error;
      const std::filesystem::path cwd =
          std::filesystem::read_symlink(entrada.path() / "cwd", error);
      if (!error && cwd == buscado) hallados.push_back(std::stoi(entrada.path().filename()));
    }
    if (hallados.size() >= cuantos || Reloj::now() >= limite) return hallados;
    std::this_thread::sleep_for(5ms);
  }
}

// alumnos-datos with each of `ordenes`, all started at once in `dir`; back
// from the constructor once each of them waits for a lock.
class OrdenesALaVez {
 public:
  OrdenesALaVez(const harness::ScratchDir& dir,
                const std::vector<std::vector<std::string>>& ordenes)
      : copias_(ordenes.size()) {
    const Reloj::time_point inicio = Reloj::now();
    for (std::size_t i = 0; i < ordenes.size(); ++i) {
      harness::Options opciones = conPlazo(60s);
      opciones.program = ALUMNOS_DATOS_BINARY;
      opciones.args = ordenes[i];
      hilos_.emplace_back([&dir, opciones, inicio, this, i] {
        copias_[i].script = harness::runScript(dir.path(), "", opciones);
        copias_[i].segundos = std::chrono::duration<double>(Reloj::now() - inicio).count();
      });
    }
    const std::vector<pid_t> procesos = trabajandoEn(dir.path(), ordenes.size());
    EXPECT_EQ(procesos.size(), ordenes.size());
    for (const pid_t pid : procesos)
      esperarQueEspere(pid);
  }
  ~OrdenesALaVez() { terminar(); }
  OrdenesALaVez(const OrdenesALaVez&) = delete;
  OrdenesALaVez& operator=(const OrdenesALaVez&) = delete;

  // Once every one has ended.
  const std::vector<Copia>& terminar() {
    for (std::thread& hilo : hilos_)
      if (hilo.joinable()) hilo.join();
    return copias_;
  }

 private:
  std::vector<Copia> copias_;
  std::vector<std::thread> hilos_;
};

// An import waits for the lock as the screens do. Given back in time, it
// looks at the codes again under the lock and stores every row, or none
// when another copy stored one of their codes meanwhile; kept waiting past
// about ten seconds, it says so and stores nothing.
TEST(VariasCopias, AnImportWaitsForTheLockAndLooksAtTheCodesAgainUnderIt) {
  harness::ScratchDir dir;
  const std::string alumnos = harness::registros({kJuan});
  const std::string cursos = fallos::curso("ZZ999Z", "Arte", 1);
  const std::string notas = fallos::nota("1", "2", {0, 0, 0, 0, 0});
  dir.write(kAlumnos, alumnos);
  dir.write(kCursos, cursos);
  dir.write(kNotas, notas);
  dir.write("a.csv", "codigo,apellido,nombre,edad\n11111111C,Ruiz,Luis,33\n");
  dir.write("c.csv", "codigo,nombre,creditos\nAB123C,Quimica,3\n");
  dir.write("n.csv",
            "codigoAlumno,codigoCurso,practica1,practica2,practica3,examenParcial,examenFinal\n"
            "1,2,3,4,5,6,7\n");
  Cerrojo cerrojoAlumnos(dir.path() + "/" + kAlumnos);
  Cerrojo cerrojoCursos(dir.path() + "/" + kCursos);
  Cerrojo cerrojoNotas(dir.path() + "/" + kNotas);
  ASSERT_TRUE(cerrojoAlumnos.tomar() && cerrojoCursos.tomar() && cerrojoNotas.tomar());

  const std::vector<std::vector<std::string>> ordenes = {{"importar", "alumnos", "a.csv"},
                                                         {"importar", "cursos", "c.csv"},
                                                         {"importar", "notas", "n.csv"}};
  OrdenesALaVez ordenesALaVez(dir, ordenes);
  // Another copy stores the course's code, holding the lock as it does.
  std::ofstream(dir.path() + "/" + kCursos, std::ios::binary | std::ios::app)
      << fallos::curso("AB123C", "Otra", 2);
  cerrojoAlumnos.soltar();
  cerrojoCursos.soltar();
  const std::vector<Copia>& copias = ordenesALaVez.terminar();

  EXPECT_EQ(copias[0].script.status, 0) << copias[0].script.errors;
  EXPECT_EQ(copias[0].script.output, "Importado 1 alumno de a.csv\n");
  EXPECT_EQ(dir.read(kAlumnos), alumnos + fallos::alumnoTecleado("11111111C", "Ruiz", "Luis", 33));

  EXPECT_EQ(copias[1].script.status, 1) << copias[1].script.errors;
  EXPECT_EQ(copias[1].script.output,
            "linea 2, codigo: AB123C ya esta en CURSO.txt\nNo se importo nada de c.csv: 1 "
            "problema\n");
  EXPECT_EQ(dir.read(kCursos), cursos + fallos::curso("AB123C", "Otra", 2));

  EXPECT_EQ(copias[2].script.status, 2);
  EXPECT_EQ(copias[2].script.output, "");
  EXPECT_EQ(copias[2].script.errors,
            "alumnos-datos: Archivo NOTAALUMNO.txt en uso, intente mas tarde\n");
  EXPECT_GE(copias[2].segundos, 9.0) << "gave up before about ten seconds";
  EXPECT_EQ(dir.read(kNotas), notas);
  EXPECT_EQ(dir.names(),
            (std::vector<std::string>{kAlumnos, kCursos, kNotas, "a.csv", "c.csv", "n.csv"}));
}

// The tool's whole-file readers take the lock shared: a reader never sees
// half of an append under way, waits for its end, and one kept waiting past
// about ten seconds says so.
TEST(VariasCopias, AReaderWaitsForAnAppendUnderWayAndSeesItWhole) {
  harness::ScratchDir dir;
  const std::string juan = harness::registros({kJuan});
  const std::string ana = harness::registros({kAna});
  dir.write(kAlumnos, juan);
  dir.write(kNotas, fallos::nota("1", "2", {0, 0, 0, 0, 0}));
  Cerrojo cerrojoAlumnos(dir.path() + "/" + kAlumnos);
  Cerrojo cerrojoNotas(dir.path() + "/" + kNotas);
  ASSERT_TRUE(cerrojoAlumnos.tomar() && cerrojoNotas.tomar());
  // The first bytes of an append another copy is making.
  std::ofstream(dir.path() + "/" + kAlumnos, std::ios::binary | std::ios::app) << ana.substr(0, 2);

  const std::vector<std::vector<std::string>> ordenes = {
      {"verificar"}, {"exportar", "alumnos"}, {"exportar", "notas"}};
  OrdenesALaVez ordenesALaVez(dir, ordenes);
  std::ofstream(dir.path() + "/" + kAlumnos, std::ios::binary | std::ios::app) << ana.substr(2);
  cerrojoAlumnos.soltar();
  const std::vector<Copia>& copias = ordenesALaVez.terminar();

  EXPECT_EQ(copias[0].script.status, 2) << copias[0].script.output;
  EXPECT_EQ(copias[0].script.errors,
            "alumnos-datos: Archivo NOTAALUMNO.txt en uso, intente mas tarde\n");
  EXPECT_EQ(copias[1].script.status, 0) << copias[1].script.errors;
  EXPECT_EQ(copias[1].script.output,
            "codigo,apellido,nombre,edad\r\n12345678A,Perez,Juan,20\r\n87654321B,Lopez,Ana,19\r\n");
  EXPECT_EQ(copias[2].script.status, 2);
  EXPECT_GE(copias[2].segundos, 9.0) << "gave up before about ten seconds";
}

harness::Options respaldarEn(const std::string& carpeta) {
  harness::Options opciones = conPlazo(60s);
  opciones.program = ALUMNOS_DATOS_BINARY;
  opciones.args = {"respaldar", carpeta};
  return opciones;
}

// Backups taken one after another while copies enter students and grades:
// each file of each backup is a state the file was really in, a run of
// whole records the final file begins with, never half an append.
TEST(VariasCopias, BackupsTakenWhileCopiesAppendHoldOnlyStatesTheFilesWereIn) {
  harness::ScratchDir dir;
  harness::ScratchDir usb;
  dir.write(kAlumnos, harness::registros(harness::numerados(1, 3)));
  dir.write(kNotas, fallos::nota("1", "2", {0, 0, 0, 0, 0}));
  constexpr int kPorCopia = 1500;
  std::string notas = "3\n";
  for (int i = 0; i < kPorCopia; ++i)
    notas += harness::numerado(i).codigo + "\nAB123C\n1\n2\n3\n4\n5\nx" +
             (i + 1 < kPorCopia ? "S" : "N");
  const std::vector<std::string> entradas = {altas(harness::numerados(100000, kPorCopia)),
                                             altas(harness::numerados(200000, kPorCopia)),
                                             notas + "0\n"};
  std::atomic<bool> terminado{false};
  std::vector<harness::Script> respaldos;
  std::thread respaldando([&] {
    // A pause between two, so that the backups of one minute stay well under
    // the names a minute has.
    while (!terminado && respaldos.size() < 300) {
      respaldos.push_back(harness::runScript(dir.path(), "", respaldarEn(usb.path())));
      std::this_thread::sleep_for(10ms);
    }
  });
  const std::vector<Copia> copias = aLaVez(dir, entradas);
  terminado = true;
  respaldando.join();
  for (const Copia& copia : copias) {
    EXPECT_EQ(copia.script.status, 0);
    EXPECT_EQ(copia.script.errors, "");
  }
  for (const harness::Script& s : respaldos) {
    EXPECT_EQ(s.status, 0) << s.errors;
  }
  const std::string alumnos = dir.read(kAlumnos);
  const std::string grados = dir.read(kNotas);
  ASSERT_EQ(alumnos.size(), 59u * (3 + 2 * kPorCopia));
  ASSERT_EQ(grados.size(), 35u * (1 + kPorCopia));
  std::set<std::size_t> estados;
  for (const std::string& respaldo : usb.names()) {
    SCOPED_TRACE(respaldo);
    for (const auto& [archivo, final, tamano] :
         {std::tuple{kAlumnos, alumnos, 59u}, std::tuple{kNotas, grados, 35u}}) {
      const std::string copia = usb.read(respaldo + "/" + archivo);
      EXPECT_EQ(copia.size() % tamano, 0u) << archivo << " holds part of a record";
      EXPECT_TRUE(final.starts_with(copia)) << archivo << " was never in this state";
      estados.insert(copia.size() * 100 + tamano);
    }
  }
  EXPECT_EQ(usb.names().size(), respaldos.size());
  EXPECT_GE(estados.size(), 6u) << "too few backups were taken while the copies appended";
  std::printf("%zu backups while 3 copies appended %d records each: %zu states of the files\n",
              respaldos.size(), kPorCopia, estados.size());
}

// Kept waiting for a lock past about ten seconds, a backup says which file
// is in use and leaves nothing behind.
TEST(VariasCopias, ABackupKeptWaitingTooLongSaysTheFileIsInUseAndLeavesNothing) {
  harness::ScratchDir dir;
  harness::ScratchDir usb;
  dir.write(kAlumnos, harness::registros({kJuan}));
  dir.write(kNotas, fallos::nota("1", "2", {0, 0, 0, 0, 0}));
  Cerrojo notas(dir.path() + "/" + kNotas);
  ASSERT_TRUE(notas.tomar());
  const Reloj::time_point inicio = Reloj::now();
  const harness::Script s = harness::runScript(dir.path(), "", respaldarEn(usb.path()));
  EXPECT_GE(std::chrono::duration<double>(Reloj::now() - inicio).count(), 9.0);
  EXPECT_EQ(s.status, 2);
  EXPECT_EQ(s.errors, "alumnos-datos: Archivo NOTAALUMNO.txt en uso, intente mas tarde\n");
  EXPECT_EQ(usb.names(), std::vector<std::string>{});
}

// Another copy's deletion puts a new ALUMNO.txt in the old one's place while
// this copy waits for the old one's lock: this copy works on the new one.
TEST(VariasCopias, AStudentFileReplacedWhileACopyWaitedIsTheOneItChanges) {
  struct Caso {
    Visita visita;
    std::string despues;  // ALUMNO.txt afterwards
  };
  const std::string nuevo = harness::registros({kAna, kEva});
  const Caso casos[] = {
      {{"Entry", kAlumnos, {"1\r", "11111111C", "Ruiz\r", "Luis\r", "33\r"}},
       nuevo + tecleado(kLuis)},
      {{"Deletion", kAlumnos, {"5\r", "87654321B\r", "S"}}, harness::registro(kEva)},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.visita.name);
    harness::ScratchDir dir;
    const std::string viejo = harness::registros({kJuan, kAna});
    dir.write(kAlumnos, viejo);
    Cerrojo otraCopia(dir.path() + "/" + kAlumnos);
    ASSERT_TRUE(otraCopia.tomar());
    const int archivoViejo = ::open((dir.path() + "/" + kAlumnos).c_str(), O_RDONLY | O_CLOEXEC);
    Terminal t(dir.path());
    hastaElCerrojo(t, c.visita);
    esperarQueEspere(t.pid());
    dir.write("nuevo", nuevo);
    ASSERT_EQ(::rename((dir.path() + "/nuevo").c_str(), (dir.path() + "/" + kAlumnos).c_str()), 0);
    otraCopia.soltar();
    t.settle();

    EXPECT_EQ(dir.read(kAlumnos), c.despues) << t.dump();
    std::string leido(200, '\0');
    leido.resize(static_cast<std::size_t>(
        std::max<ssize_t>(::pread(archivoViejo, leido.data(), leido.size(), 0), 0)));
    EXPECT_EQ(leido, viejo) << "the old file was written to";
    ::close(archivoViejo);
    EXPECT_EQ(dir.names(), std::vector<std::string>{kAlumnos});
  }
}

// A student deleted by another copy while this one's student screen stood
// open is not refused when typed again: the code is looked up in the file
// ALUMNO.txt is now, and the student is stored there.
TEST(VariasCopias, AStudentDeletedByAnotherCopyCanBeEnteredAgainAtOnce) {
  harness::ScratchDir dir;
  dir.write(kAlumnos, harness::registros({kJuan, kAna}));
  Terminal t(dir.path());
  t.type("1\r");
  const harness::Script otra = harness::runScript(dir.path(), bajas({kAna.codigo}));
  EXPECT_TRUE(fallos::muestra(otra.output, fallos::kEliminado));
  t.typeByteByByte(kAna.codigo);
  t.type("Lopez\r");
  t.type("Ana\r");
  t.type("19\r");
  EXPECT_EQ(t.text(15, 8, static_cast<int>(fallos::kOtroAlumno.size())), fallos::kOtroAlumno)
      << t.dump();
  EXPECT_EQ(dir.read(kAlumnos), harness::registro(kJuan) + tecleado(kAna));
}

// Both wait on the old file's lock (held by the test) and take it in turn:
// the second finds the file replaced by the first and works on the new one.
TEST(VariasCopias, TwoDeletionsAtOnceBothTakeEffectAndTheFileIsAlwaysWhole) {
  const std::string viejo = harness::muchosAlumnos(20'000);
  const std::string sinA = fallos::sinCodigo(viejo, "00000005A");
  const std::string sinB = fallos::sinCodigo(viejo, "00015000A");
  const std::string sinAmbos = fallos::sinCodigo(sinA, "00015000A");
  harness::ScratchDir dir;
  dir.write(kAlumnos, viejo);
  Cerrojo otraCopia(dir.path() + "/" + kAlumnos);
  ASSERT_TRUE(otraCopia.tomar());
  Terminal a(dir.path());
  Terminal b(dir.path());
  hastaElCerrojo(a, {"A", kAlumnos, {"5\r", "00000005A\r", "S"}});
  hastaElCerrojo(b, {"B", kAlumnos, {"5\r", "00015000A\r", "S"}});
  esperarQueEspere(a.pid());
  esperarQueEspere(b.pid());

  std::atomic<bool> terminado{false};
  std::atomic<int> lecturas{0}, partidas{0};
  std::thread lector([&] {
    while (!terminado) {
      try {
        const std::string ahora = dir.read(kAlumnos);
        partidas += ahora != viejo && ahora != sinA && ahora != sinB && ahora != sinAmbos;
      } catch (const std::exception&) {
        ++partidas;  // no ALUMNO.txt at all
      }
      ++lecturas;
    }
  });
  otraCopia.soltar();
  a.settle();
  b.settle();
  terminado = true;
  lector.join();
  EXPECT_EQ(partidas, 0) << "ALUMNO.txt was read as no whole file";
  for (Terminal* t : {&a, &b}) {
    t->type("x");
    EXPECT_EQ(t->text(10, 13, static_cast<int>(fallos::kEliminado.size())), fallos::kEliminado)
        << t->dump();
  }
  EXPECT_EQ(dir.read(kAlumnos), sinAmbos);
  EXPECT_EQ(dir.names(), std::vector<std::string>{kAlumnos});
  std::printf("ALUMNO.txt read whole %d times while two copies deleted\n", lecturas.load());
}

#ifdef ALUMNOS_WINDOWS_BUILD
// alumnos.exe under wine, which cannot replace a file any copy holds open,
// and which takes a file's lock from a copy only when it ends or lets go.

TEST(VariasCopiasBajoWine, EightCopiesOfTheWindowsProgramLoseNothingAndRefuseNoDeletion) {
  const std::string wine = wine::wineOrWhyNot();
  const std::string programa = wine::kWindowsBuild + "/alumnos.exe";
  if (const std::string why = wine::whyNot(wine, programa); !why.empty()) GTEST_SKIP() << why;
  wine::startWine(wine);
  ochoCopias(wine::underWine(wine, {programa}), "alumnos.exe under wine", 2, 12, 5);
}

// A clerk sits in the student screen, or reads the listing's first page, in
// one window while another clerk deletes a student in another: the deletion
// goes through, and the first clerk goes on in the new file.
TEST(VariasCopiasBajoWine, ADeletionBesideACopyInTheStudentScreenOrTheListingGoesThrough) {
  const std::string wine = wine::wineOrWhyNot();
  const std::string programa = wine::kWindowsBuild + "/alumnos.exe";
  if (const std::string why = wine::whyNot(wine, programa); !why.empty()) GTEST_SKIP() << why;
  wine::startWine(wine);
  struct Caso {
    const char* nombre;
    std::vector<std::string> teclas;  // each typed once the screen shows `esperas`'s text
    std::vector<std::string> esperas;
    std::string despues;  // ALUMNO.txt after both
  };
  const std::vector<Estudiante> antes = harness::numerados(1, 30);
  const std::string sinEl5 = fallos::sinCodigo(harness::registros(antes), "00000005A");
  const Caso casos[] = {
      {"student screen",
       {"1\r", "11111111C", "Ruiz\r", "Luis\r", "33\r", "N", "x", "0\r"},
       {"* Codigo del Alumno   :", "* Apellido del alumno :", "* Nombre del alumno", "* Edad",
        "Desea ingresar datos de otro alumno", "", "< Edite Opcion > ==>", ""},
       sinEl5 + tecleado(kLuis)},
      {"listing",
       {"4\r", "x", "x", "x", "0\r"},
       {"PRESIONE ENTER", "", "", "< Edite Opcion > ==>", ""},
       sinEl5},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nombre);
    harness::ScratchDir dir;
    dir.write(kAlumnos, harness::registros(antes));
    Terminal t(dir.path(), wine::underWine(wine, {programa}));
    ASSERT_TRUE(wine::waitFor(t, "< Edite Opcion > ==>")) << t.dump();
    for (std::size_t i = 0; i < c.teclas.size(); ++i) {
      t.typeByteByByte(c.teclas[i]);
      ASSERT_TRUE(wine::waitFor(t, c.esperas[i])) << t.dump();
      if (i > 0) continue;
      // The first clerk waits for a key; the second deletes meanwhile.
      const harness::Script otra =
          harness::runScript(dir.path(), bajas({"00000005A"}), wine::underWine(wine, {programa}));
      EXPECT_EQ(veces(otra.output, fallos::kEliminado), 1u) << otra.output;
      EXPECT_EQ(dir.read(kAlumnos), sinEl5);
    }
    EXPECT_EQ(t.waitExit(), 0) << t.dump();
    EXPECT_EQ(dir.read(kAlumnos), c.despues);
    EXPECT_EQ(dir.names(), std::vector<std::string>{kAlumnos});
  }
}
#endif

}  // namespace
