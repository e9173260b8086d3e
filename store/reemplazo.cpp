// The replacement of a file through a scratch file that takes its place in
// one step, and the three things done with it: the deletion of students, the
// import's all-or-nothing append, and the start-up recovery of a student
// file left only in TEMPORAL.txt.
#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>

#include "store/archivos.hpp"
#include "store/detalle.hpp"
#include "store/sistema.hpp"

namespace store {
namespace {

// From the scratch file's first write to the folder's flush after it took
// the file's name, a signal that ends the program waits: whether it comes
// from a clerk closing the window, a shutdown or a kill, the file is then
// either the old one or the new one, and the scratch file is gone. Only
// SIGKILL cannot wait; the next deletion removes what it leaves.
class SenalesRetenidas {
 public:
  SenalesRetenidas() noexcept { sistema::retenerSenales(); }
  ~SenalesRetenidas() { sistema::soltarSenales(); }
  SenalesRetenidas(const SenalesRetenidas&) = delete;
  SenalesRetenidas& operator=(const SenalesRetenidas&) = delete;
};

// A scratch file taking a file's new contents, written front to back. It
// is removed when destroyed, unless it has taken the file's place (ocupar).
class Temporal {
 public:
  explicit Temporal(const char* nombre) noexcept : nombre_(nombre) {}
  Temporal(const Temporal&) = delete;
  Temporal& operator=(const Temporal&) = delete;
  ~Temporal();

  // A new, empty scratch file with `original`'s permissions; a stale one is
  // removed first.
  Resultado crear(Manejador original);
  // Writes `bytes` after everything written so far.
  Resultado escribir(const unsigned char* bytes, std::size_t cantidad);
  // Flushes; the file then holds every byte on the disk.
  Resultado terminar();
  // Takes the place of `destino`, the file open and locked on `original`
  // (see sistema::reemplazar).
  Resultado ocupar(const std::string& destino, Descriptor& original);

 private:
  void empezarAGrabar();

  const char* nombre_;
  Descriptor descriptor_;
  std::int64_t tamano_ = 0;    // bytes written to the file
  std::int64_t enCamino_ = 0;  // bytes already handed to the disk
  bool existe_ = false;        // we made the file and it has not been handed over
};

// Writes a file's new contents into `nuevo`, reading the file being replaced
// (held open and locked) through `original`.
using Llenar = std::function<Resultado(Manejador original, Temporal& nuevo)>;

Temporal::~Temporal() {
  if (existe_) sistema::descartar(nombre_, descriptor_);
}

Resultado Temporal::crear(Manejador original) {
  const Resultado r = sistema::crearTemporal(nombre_, original, descriptor_);
  existe_ = descriptor_.abierto();
  return r;
}

Resultado Temporal::escribir(const unsigned char* bytes, std::size_t cantidad) {
  std::size_t escritos = 0;
  if (!sistema::escribirTodo(descriptor_.numero(), bytes, cantidad, tamano_, escritos)) {
    return falla(Falla::escritura, sistema::ultimoError());
  }
  tamano_ += static_cast<std::int64_t>(cantidad);
  empezarAGrabar();
  return {};
}

Resultado Temporal::terminar() {
  if (!sistema::sincronizar(descriptor_.numero())) {
    return falla(Falla::escritura, sistema::ultimoError());
  }
  return {};
}

Resultado Temporal::ocupar(const std::string& destino, Descriptor& original) {
  const Resultado r = sistema::reemplazar(nombre_, destino, original, descriptor_);
  if (r || r.falla == Falla::sincronizarDirectorio) existe_ = false;
  return r;
}

// The disk is asked to start on each few megabytes while the rest is
// written, so that the final flush has little left to do.
void Temporal::empezarAGrabar() {
  constexpr std::int64_t kTramo = 4 << 20;
  if (tamano_ - enCamino_ < kTramo) return;
  sistema::empezarAGrabar(descriptor_.numero(), enCamino_, tamano_);
  enCamino_ = tamano_;
}

// Replaces the file `nombre` with what `llenar` writes into the scratch file
// `temporal`, which then takes the file's place in one step, so that the
// file always holds either all it held or all its new contents. The file,
// opened as `apertura` says, is locked from before `llenar` looks at it until
// the new one is in its place and on the disk, and only the lock's holder
// writes the scratch file; Falla::enUso when another copy kept the lock too
// long. On any failure before the step, `llenar`'s own included, the file is
// untouched and the scratch file is gone.
Resultado reemplazar(const char* nombre, const char* temporal, Apertura apertura,
                     const Llenar& llenar) {
  // The lock is held until the new file has taken the old one's place and
  // that is on the disk: `original`, closed last on every way out, gives it
  // back.
  Descriptor original;
  if (Resultado r = detalle::abrir(nombre, apertura, original); !r) return r;
  if (Resultado r = detalle::bloquear(nombre, apertura, original); !r) return r;

  // Declared before the scratch file, so that a scratch file left by a
  // failure is removed before a held signal is acted on.
  const SenalesRetenidas senales;
  Temporal nuevo(temporal);
  if (Resultado r = nuevo.crear(original.numero()); !r) return r;
  if (Resultado r = llenar(original.numero(), nuevo); !r) return r;
  if (Resultado r = nuevo.terminar(); !r) return r;
  return nuevo.ocupar(sistema::archivoReal(nombre), original);
}

}  // namespace

Resultado eliminarAlumnos(std::string_view codigo) {
  const CodigoBuscado buscado(codigo, sizeof(Alumno::codigo));
  constexpr std::size_t kTamano = Formato<Alumno>::tamano;
  // Open for writing, as a lock that keeps appends out needs.
  return reemplazar(
      kArchivoAlumnos, kArchivoTemporal, Apertura::escribir,
      [&](Manejador original, Temporal& nuevo) {
        LectorBloques lector(original, kTamano);
        // The students kept are written straight from the reader's buffer, a
        // run of neighbours at a time, as the bytes they were stored as.
        for (auto bloque = lector.siguienteBloque(); !bloque.empty();
             bloque = lector.siguienteBloque()) {
          const unsigned char* conservados = bloque.data();
          const unsigned char* const fin = bloque.data() + bloque.size();
          for (const unsigned char* registro = conservados; registro < fin; registro += kTamano) {
            if (!buscado.en(registro + Formato<Alumno>::codigo)) continue;
            if (Resultado r =
                    nuevo.escribir(conservados, static_cast<std::size_t>(registro - conservados));
                !r) {
              return r;
            }
            conservados = registro + kTamano;
          }
          if (Resultado r =
                  nuevo.escribir(conservados, static_cast<std::size_t>(fin - conservados));
              !r) {
            return r;
          }
        }
        // A read error would silently lose every record after it.
        return lector.estado();
      });
}

Resultado agregarTodos(const char* nombre, const char* temporal, std::size_t tamano,
                       std::span<const unsigned char> registros, const Revisar& revisar) {
  return reemplazar(nombre, temporal, Apertura::crear, [&](Manejador original, Temporal& nuevo) {
    LectorBloques lector(original, tamano);
    bool aceptados = true;
    for (auto bloque = lector.siguienteBloque(); !bloque.empty();
         bloque = lector.siguienteBloque()) {
      // Every record is shown, so that all it turns down are known at once.
      for (std::size_t i = 0; i < bloque.size(); i += tamano)
        aceptados &= revisar(bloque.data() + i);
      if (!aceptados) continue;
      if (Resultado r = nuevo.escribir(bloque.data(), bloque.size()); !r) return r;
    }
    if (Resultado r = lector.estado(); !r) return r;
    if (!aceptados) return Resultado{Falla::repetido, EEXIST};
    return nuevo.escribir(registros.data(), registros.size());
  });
}

Recuperacion recuperarAlumnos() {
  if (sistema::hayAlgo(kArchivoAlumnos)) return Recuperacion::nadaQueHacer;
  Descriptor temporal;
  switch (sistema::abrirParaRecuperar(kArchivoTemporal, temporal)) {
    case sistema::Hallazgo::ninguno:
      return Recuperacion::nadaQueHacer;
    case sistema::Hallazgo::otraCosa:
      return Recuperacion::dejado;
    case sistema::Hallazgo::archivo:
      break;
  }
  // A fragment alone holds no student at all.
  constexpr auto kTamano = static_cast<std::int64_t>(Formato<Alumno>::tamano);
  std::int64_t tamano = 0;
  if (!sistema::tamano(temporal.numero(), tamano) || (tamano > 0 && tamano < kTamano)) {
    return Recuperacion::dejado;
  }
  LectorBloques lector(temporal.numero(), Formato<Alumno>::tamano);
  while (const unsigned char* bytes = lector.siguiente()) {
    if (!pareceAlumno(BytesDe<Alumno>(bytes, Formato<Alumno>::tamano))) {
      return Recuperacion::dejado;
    }
  }
  if (!lector.estado() || !sistema::sincronizar(temporal.numero())) return Recuperacion::dejado;
  temporal.cerrar();
  // The students are in place once the name is; a directory that cannot be
  // flushed only leaves the new name at the mercy of a power cut. Another
  // copy may have made a new ALUMNO.txt since the look above: that one is
  // never replaced, and the scratch file stays as it is beside it. Where the
  // name is given in two steps, a signal waits for both.
  Resultado r;
  {
    const SenalesRetenidas senales;
    r = sistema::renombrarSinPisar(kArchivoTemporal, kArchivoAlumnos);
  }
  if (!r && r.falla == Falla::renombrar) {
    if (!sistema::hayAlgo(kArchivoAlumnos)) return Recuperacion::dejado;
    // Another copy recovering at the same moment took the scratch file's
    // name along with it; a scratch file still there met a student file
    // made meanwhile.
    return sistema::hayAlgo(kArchivoTemporal) ? Recuperacion::ocupado : Recuperacion::nadaQueHacer;
  }
  return Recuperacion::recuperado;
}

}  // namespace store
