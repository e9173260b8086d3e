// The record files' rules, the same on every platform: the append at the
// last whole-record boundary and its undoing, the block reader, the code
// lookup, the replacement through a scratch file and the start-up recovery. The
// file system is reached only through store/sistema.hpp.
#include "store/archivos.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>

#include "store/cerrojo.hpp"
#include "store/sistema.hpp"

namespace store {
namespace detalle {

Descriptor& Descriptor::operator=(Descriptor&& otro) noexcept {
  if (this != &otro) {
    cerrar();
    numero_ = otro.soltar();
  }
  return *this;
}

Manejador Descriptor::soltar() noexcept {
  const Manejador numero = numero_;
  numero_ = -1;
  return numero;
}

void Descriptor::cerrar() noexcept {
  // Nothing is pending at close: every write was checked and flushed before.
  if (abierto()) sistema::cerrar(numero_);
  numero_ = -1;
}

namespace {

Resultado falla(Falla tipo, int numeroError) {
  return Resultado{tipo, numeroError};
}

// Writes all of `bytes` at `desplazamiento`, continuing partial writes.
// `escritos` tells how far it got, also on failure.
bool escribirTodo(Manejador descriptor, const unsigned char* bytes, std::size_t cantidad,
                  std::int64_t desplazamiento, std::size_t& escritos) {
  escritos = 0;
  while (escritos < cantidad) {
    std::size_t hecho = 0;
    if (!sistema::escribirEn(descriptor, bytes + escritos, cantidad - escritos,
                             desplazamiento + static_cast<std::int64_t>(escritos), hecho)) {
      return false;
    }
    escritos += hecho;
  }
  return true;
}

// Reads exactly `cantidad` bytes at `desplazamiento`; a file that ends
// before is a failure.
bool leerTodo(Manejador descriptor, unsigned char* bytes, std::size_t cantidad,
              std::int64_t desplazamiento, int& numeroError) {
  std::size_t leidos = 0;
  while (leidos < cantidad) {
    std::size_t hecho = 0;
    if (!sistema::leerEn(descriptor, bytes + leidos, cantidad - leidos,
                         desplazamiento + static_cast<std::int64_t>(leidos), hecho)) {
      numeroError = sistema::ultimoError();
      return false;
    }
    if (hecho == 0) {  // the file shrank under us
      numeroError = EIO;
      return false;
    }
    leidos += hecho;
  }
  return true;
}

}  // namespace

Resultado abrir(const char* nombre, Apertura apertura, Descriptor& descriptor,
                Recuperacion* recuperacion) {
  // An empty student file made while the students lie in TEMPORAL.txt would
  // hide them, and the next deletion would remove them for good.
  if (apertura == Apertura::crear && std::string_view(nombre) == kArchivoAlumnos) {
    const Recuperacion hecho = recuperarAlumnos();
    if (recuperacion != nullptr && hecho != Recuperacion::nadaQueHacer) *recuperacion = hecho;
  }
  return sistema::abrir(nombre, apertura, descriptor);
}

namespace {

Resultado agregarAlFinal(Manejador descriptor, std::span<const unsigned char> registro) {
  std::int64_t tamanoAntes = 0;
  if (!sistema::tamano(descriptor, tamanoAntes)) {
    return falla(Falla::escritura, sistema::ultimoError());
  }
  const auto tamano = static_cast<std::int64_t>(registro.size());
  const std::int64_t limite = tamanoAntes - tamanoAntes % tamano;

  // A trailing fragment is overwritten; keep its bytes so that a failed
  // append can put them back and leave the file exactly as it was.
  unsigned char fragmento[64];
  const auto largoFragmento = static_cast<std::size_t>(tamanoAntes - limite);
  if (largoFragmento > sizeof fragmento) return falla(Falla::escritura, EINVAL);
  int errorLectura = 0;
  if (largoFragmento > 0 &&
      !leerTodo(descriptor, fragmento, largoFragmento, limite, errorLectura)) {
    return falla(Falla::escritura, errorLectura);
  }

  std::size_t escritos = 0;
  if (escribirTodo(descriptor, registro.data(), registro.size(), limite, escritos) &&
      sistema::sincronizar(descriptor)) {
    return {};
  }
  const int numeroError = sistema::ultimoError();
  // Best effort: the failure reported is the write's, whatever happens here.
  if (sistema::recortar(descriptor, tamanoAntes)) {
    const std::size_t pisados = escritos < largoFragmento ? escritos : largoFragmento;
    std::size_t restaurados = 0;
    if (pisados > 0 && escribirTodo(descriptor, fragmento, pisados, limite, restaurados)) {
      (void)sistema::sincronizar(descriptor);
    }
  }
  return falla(Falla::escritura, numeroError);
}

}  // namespace

LectorBloques::LectorBloques(Manejador descriptor, std::size_t tamanoRegistro) noexcept
    : buffer_(new (std::nothrow) unsigned char[kCapacidad]),
      descriptor_(descriptor),
      tamanoRegistro_(tamanoRegistro) {
  if (!buffer_) {
    agotado_ = true;
    numeroError_ = ENOMEM;
  }
}

bool LectorBloques::rellenar() noexcept {
  if (agotado_) return false;
  const std::size_t resto = fin_ - inicio_;
  if (resto > 0) std::memmove(buffer_.get(), buffer_.get() + inicio_, resto);
  inicio_ = 0;
  fin_ = resto;
  while (fin_ < tamanoRegistro_) {
    std::size_t leidos = 0;
    if (!sistema::leerEn(descriptor_, buffer_.get() + fin_, kCapacidad - fin_, desplazamiento_,
                         leidos)) {
      numeroError_ = sistema::ultimoError();
      agotado_ = true;
      return false;
    }
    if (leidos == 0) {
      agotado_ = true;
      return false;
    }
    fin_ += leidos;
    desplazamiento_ += static_cast<std::int64_t>(leidos);
  }
  return true;
}

CodigoBuscado::CodigoBuscado(std::string_view codigo, std::size_t ancho) noexcept
    : codigo_(codigo), largo_(codigo.size()), ancho_(ancho) {
  // A stored code is read up to its zero, so it never holds one: a code
  // with a zero in it is in no field.
  if (codigo.find('\0') != std::string_view::npos) largo_ = ancho_ + 1;
  if (largo_ >= 8 && largo_ <= ancho_) std::memcpy(&inicio_, codigo.data(), sizeof inicio_);
}

Resultado LectorBloques::estado() const noexcept {
  if (numeroError_ != 0) return falla(Falla::lectura, numeroError_);
  return {};
}

Resultado LecturaSuelta::abrir() {
  Descriptor descriptor;
  falla_ = detalle::abrir(nombre_, Apertura::leer, descriptor);
  if (falla_ && !sistema::identidad(descriptor.numero(), identidad_)) {
    falla_ = falla(Falla::noSeAbre, sistema::ultimoError());
  }
  abierta_ = static_cast<bool>(falla_);
  return falla_;
}

const unsigned char* LecturaSuelta::siguiente() {
  if (!abierta_ || !falla_) return nullptr;
  if (!lector_.leera()) return lector_.siguiente();
  // The name may lead to another file by now: a deletion's new one, whose
  // records do not go on from where the old one's left off. A file shorter
  // than what was read of it is another one too, whatever its number.
  Descriptor descriptor;
  if (Resultado r = detalle::abrir(nombre_, Apertura::leer, descriptor); !r) {
    falla_ = r.falla == Falla::noExiste ? falla(Falla::reemplazado, r.numeroError) : r;
    return nullptr;
  }
  Identidad ahora;
  std::int64_t tamano = 0;
  if (!sistema::identidad(descriptor.numero(), ahora) ||
      !sistema::tamano(descriptor.numero(), tamano)) {
    falla_ = falla(Falla::noSeAbre, sistema::ultimoError());
    return nullptr;
  }
  if (!(ahora == identidad_) || tamano < lector_.leido()) {
    falla_ = falla(Falla::reemplazado, 0);
    return nullptr;
  }
  lector_.usar(descriptor.numero());
  const unsigned char* registro = lector_.siguiente();
  lector_.usar(-1);
  return registro;
}

Resultado alDia(const char* nombre, Apertura apertura, Descriptor& descriptor) {
  if (!descriptor.abierto()) return {};
  switch (adondeLleva(nombre, descriptor.numero())) {
    case Destino::esteArchivo:
      return {};
    case Destino::fallido:
      return falla(Falla::noSeAbre, sistema::ultimoError());
    case Destino::otroArchivo:
    case Destino::ninguno:
      break;
  }
  return abrir(nombre, apertura, descriptor);
}

Busqueda buscarEn(Manejador descriptor, std::size_t tamano, const Clave& clave) {
  LectorBloques lector(descriptor, tamano);
  const CodigoBuscado buscado(clave.codigo, clave.ancho);
  // Codes are compared where they lie in the buffer: no record is decoded.
  for (auto bloque = lector.siguienteBloque(); !bloque.empty(); bloque = lector.siguienteBloque()) {
    for (std::size_t i = 0; i < bloque.size(); i += tamano) {
      if (buscado.en(bloque.data() + i + clave.desplazamiento)) return Busqueda{true, {}};
    }
  }
  return Busqueda{false, lector.estado()};
}

namespace {

using Reloj = std::chrono::steady_clock;

// Between two tries at a lock that another copy holds: short at first, as
// most appends take a few milliseconds, longer while the wait goes on.
constexpr std::chrono::milliseconds kPrimeraPausa{1};
constexpr std::chrono::milliseconds kPausaMaxima{10};

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

// Gives the lock back at the end of the scope. Should the system refuse,
// the descriptor is closed, which gives it back too: a lock left held would
// stop every other copy while this one's clerk types.
class Liberar {
 public:
  explicit Liberar(Descriptor& descriptor) noexcept : descriptor_(descriptor) {}
  Liberar(const Liberar&) = delete;
  Liberar& operator=(const Liberar&) = delete;
  ~Liberar() {
    if (descriptor_.abierto() && !desbloquear(descriptor_.numero())) descriptor_.cerrar();
  }

 private:
  Descriptor& descriptor_;
};

}  // namespace

// The scratch file through which `nombre` is replaced (reemplazar), or
// nullptr for a file that never is. Every file replaced through one needs it
// here: a copy that takes the file's lock looks at it.
const char* temporalDe(const char* nombre) {
  const std::string_view archivo(nombre);
  if (archivo == Formato<Alumno>::archivo) return Formato<Alumno>::temporal;
  if (archivo == Formato<Curso>::archivo) return Formato<Curso>::temporal;
  if (archivo == Formato<NotaAlumno>::archivo) return Formato<NotaAlumno>::temporal;
  return nullptr;
}

// Takes the lock of the file `nombre` open on `descriptor` as `modo` says,
// waiting for other copies up to kEsperaMaxima. Once it is taken, the name
// must still lead to the file locked: the copy that held the lock may have
// put a new file in the old one's place, which is then opened (as `apertura`
// says, the recovery's outcome left in `recuperacion`) and locked in its
// turn. On failure no lock is held.
Resultado bloquear(const char* nombre, Apertura apertura, Descriptor& descriptor,
                   Recuperacion* recuperacion = nullptr, Modo modo = Modo::exclusivo) {
  const Reloj::time_point limite = Reloj::now() + kEsperaMaxima;
  std::chrono::milliseconds pausa = kPrimeraPausa;
  for (;;) {
    const Intento intento = intentarBloquear(descriptor.numero(), modo);
    if (intento == Intento::fallido) {
      return falla(modo == Modo::exclusivo ? Falla::escritura : Falla::lectura,
                   sistema::ultimoError());
    }
    // A copy replacing the file may have let the lock go just before its new
    // file takes the name: it is waited for as if it held the lock still. The
    // name is looked at only after that, as it may change up to then.
    if (intento == Intento::ocupado || sistema::reemplazoEnCurso(temporalDe(nombre))) {
      if (Reloj::now() >= limite) return falla(Falla::enUso, EAGAIN);
      // Not held open while waiting (closing gives back a lock just taken):
      // where a file that is open cannot be replaced, the waiting would keep
      // the holder's deletion from ending.
      descriptor.cerrar();
      std::this_thread::sleep_for(pausa);
      pausa = std::min(pausa * 2, kPausaMaxima);
      if (Resultado r = abrir(nombre, apertura, descriptor, recuperacion); !r) return r;
      continue;
    }
    const Destino destino = adondeLleva(nombre, descriptor.numero());
    if (destino == Destino::esteArchivo) return {};
    const int numeroError = sistema::ultimoError();
    descriptor.cerrar();  // and with it the lock on the old file
    if (destino == Destino::fallido) return falla(Falla::noSeAbre, numeroError);
    if (Resultado r = abrir(nombre, apertura, descriptor, recuperacion); !r) return r;
  }
}

Resultado bloquearParaLeer(const char* nombre, Descriptor& descriptor) {
  return bloquear(nombre, Apertura::leer, descriptor, nullptr, Modo::compartido);
}

namespace {

Resultado agregarBloqueado(const char* nombre, Apertura apertura, Descriptor& descriptor,
                           std::span<const unsigned char> registro, const Clave* clave,
                           Recuperacion& recuperacion) {
  if (Resultado r = bloquear(nombre, apertura, descriptor, &recuperacion); !r) return r;
  const Liberar liberar(descriptor);
  if (clave != nullptr) {
    const Busqueda busqueda = buscarEn(descriptor.numero(), registro.size(), *clave);
    if (busqueda.encontrado) return falla(Falla::repetido, EEXIST);
    // A file not read to the end may hold the code further on.
    if (!busqueda.resultado) return busqueda.resultado;
  }
  return agregarAlFinal(descriptor.numero(), registro);
}

}  // namespace

Resultado agregar(const char* nombre, Apertura apertura, Descriptor& descriptor,
                  std::span<const unsigned char> registro, const Clave* clave,
                  Recuperacion& recuperacion) {
  if (descriptor.abierto()) {
    return agregarBloqueado(nombre, apertura, descriptor, registro, clave, recuperacion);
  }
  if (Resultado r = abrir(nombre, apertura, descriptor, &recuperacion); !r) return r;
  const Resultado r = agregarBloqueado(nombre, apertura, descriptor, registro, clave, recuperacion);
  descriptor.cerrar();
  return r;
}

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
  if (!escribirTodo(descriptor_.numero(), bytes, cantidad, tamano_, escritos)) {
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

Resultado reemplazar(const char* nombre, const char* temporal, Apertura apertura,
                     const Llenar& llenar) {
  // The lock is held until the new file has taken the old one's place and
  // that is on the disk: `original`, closed last on every way out, gives it
  // back.
  Descriptor original;
  if (Resultado r = abrir(nombre, apertura, original); !r) return r;
  if (Resultado r = bloquear(nombre, apertura, original); !r) return r;

  // Declared before the scratch file, so that a scratch file left by a
  // failure is removed before a held signal is acted on.
  const SenalesRetenidas senales;
  Temporal nuevo(temporal);
  if (Resultado r = nuevo.crear(original.numero()); !r) return r;
  if (Resultado r = llenar(original.numero(), nuevo); !r) return r;
  if (Resultado r = nuevo.terminar(); !r) return r;
  return nuevo.ocupar(sistema::archivoReal(nombre), original);
}

}  // namespace detalle

namespace {

template <class R>
Busqueda buscar(Archivo<R>& archivo, std::string_view codigo) {
  const detalle::Clave clave{codigo, Formato<R>::codigo, sizeof(R::codigo)};
  if (archivo.abierto()) {
    if (Resultado r = archivo.alDia(); !r) return Busqueda{false, r};
    return detalle::buscarEn(detalle::Acceso::descriptor(archivo), Formato<R>::tamano, clave);
  }
  detalle::Descriptor descriptor;
  if (Resultado r = detalle::abrir(Formato<R>::archivo, detalle::Apertura::leer, descriptor); !r) {
    // No file, no code: the append makes the file.
    return Busqueda{false, r.falla == Falla::noExiste ? Resultado{} : r};
  }
  return detalle::buscarEn(descriptor.numero(), Formato<R>::tamano, clave);
}

}  // namespace

Busqueda buscarCodigo(Archivo<Alumno>& alumnos, std::string_view codigo) {
  return buscar(alumnos, codigo);
}

Busqueda buscarCodigo(Archivo<Curso>& cursos, std::string_view codigo) {
  return buscar(cursos, codigo);
}

Resultado eliminarAlumnos(std::string_view codigo) {
  const detalle::CodigoBuscado buscado(codigo, sizeof(Alumno::codigo));
  constexpr std::size_t kTamano = Formato<Alumno>::tamano;
  // Open for writing, as a lock that keeps appends out needs.
  return detalle::reemplazar(
      kArchivoAlumnos, kArchivoTemporal, detalle::Apertura::escribir,
      [&](detalle::Manejador original, detalle::Temporal& nuevo) {
        detalle::LectorBloques lector(original, kTamano);
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

Resultado detalle::agregarTodos(const char* nombre, const char* temporal, std::size_t tamano,
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
  detalle::Descriptor temporal;
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
  detalle::LectorBloques lector(temporal.numero(), Formato<Alumno>::tamano);
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
    const detalle::SenalesRetenidas senales;
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
