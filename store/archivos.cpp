// The record files' rules, the same on every platform: the append at the
// last whole-record boundary and its undoing, the block reader, the code
// lookup and the wait for a file's lock. The replacement through a scratch
// file is in reemplazo.cpp. The file system is reached only through
// store/sistema.hpp.
#include "store/archivos.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>

#include "store/detalle.hpp"
#include "store/sistema.hpp"

namespace store {

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

Resultado detalle::abrir(const char* nombre, Apertura apertura, Descriptor& descriptor,
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

using Reloj = std::chrono::steady_clock;

// Between two tries at a lock that another copy holds: short at first, as
// most appends take a few milliseconds, longer while the wait goes on.
constexpr std::chrono::milliseconds kPrimeraPausa{1};
constexpr std::chrono::milliseconds kPausaMaxima{10};

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

}  // namespace

Resultado detalle::bloquear(const char* nombre, Apertura apertura, Descriptor& descriptor,
                            Recuperacion* recuperacion, sistema::Modo modo) {
  const Reloj::time_point limite = Reloj::now() + kEsperaMaxima;
  std::chrono::milliseconds pausa = kPrimeraPausa;
  for (;;) {
    const sistema::Intento intento = sistema::intentarBloquear(descriptor.numero(), modo);
    if (intento == sistema::Intento::fallido) {
      return falla(modo == sistema::Modo::exclusivo ? Falla::escritura : Falla::lectura,
                   sistema::ultimoError());
    }
    // A copy replacing the file may have let the lock go just before its new
    // file takes the name: it is waited for as if it held the lock still. The
    // name is looked at only after that, as it may change up to then.
    if (intento == sistema::Intento::ocupado || sistema::reemplazoEnCurso(temporalDe(nombre))) {
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
    const sistema::Destino destino = sistema::adondeLleva(nombre, descriptor.numero());
    if (destino == sistema::Destino::esteArchivo) return {};
    const int numeroError = sistema::ultimoError();
    descriptor.cerrar();  // and with it the lock on the old file
    if (destino == sistema::Destino::fallido) return falla(Falla::noSeAbre, numeroError);
    if (Resultado r = abrir(nombre, apertura, descriptor, recuperacion); !r) return r;
  }
}

namespace {

// Reads exactly `cantidad` bytes at `desplazamiento`; a file that ends
// before is a failure.
bool leerExacto(Manejador descriptor, unsigned char* bytes, std::size_t cantidad,
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
      !leerExacto(descriptor, fragmento, largoFragmento, limite, errorLectura)) {
    return falla(Falla::escritura, errorLectura);
  }

  std::size_t escritos = 0;
  if (sistema::escribirTodo(descriptor, registro.data(), registro.size(), limite, escritos) &&
      sistema::sincronizar(descriptor)) {
    return {};
  }
  const int numeroError = sistema::ultimoError();
  // Best effort: the failure reported is the write's, whatever happens here.
  if (sistema::recortar(descriptor, tamanoAntes)) {
    const std::size_t pisados = escritos < largoFragmento ? escritos : largoFragmento;
    std::size_t restaurados = 0;
    if (pisados > 0 && sistema::escribirTodo(descriptor, fragmento, pisados, limite, restaurados)) {
      (void)sistema::sincronizar(descriptor);
    }
  }
  return falla(Falla::escritura, numeroError);
}

// Gives the lock back at the end of the scope. Should the system refuse,
// the descriptor is closed, which gives it back too: a lock left held would
// stop every other copy while this one's clerk types.
class Liberar {
 public:
  explicit Liberar(Descriptor& descriptor) noexcept : descriptor_(descriptor) {}
  Liberar(const Liberar&) = delete;
  Liberar& operator=(const Liberar&) = delete;
  ~Liberar() {
    if (descriptor_.abierto() && !sistema::desbloquear(descriptor_.numero())) descriptor_.cerrar();
  }

 private:
  Descriptor& descriptor_;
};

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

Resultado agregarBloqueado(const char* nombre, Apertura apertura, Descriptor& descriptor,
                           std::span<const unsigned char> registro, const Clave* clave,
                           Recuperacion& recuperacion) {
  if (Resultado r = detalle::bloquear(nombre, apertura, descriptor, &recuperacion); !r) return r;
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

Resultado ArchivoSuelto::abrir(Apertura apertura) {
  apertura_ = apertura;
  return detalle::abrir(nombre_, apertura, descriptor_, &recuperacion_);
}

Resultado ArchivoSuelto::agregar(std::span<const unsigned char> registro, const Clave* clave) {
  if (descriptor_.abierto()) {
    return agregarBloqueado(nombre_, apertura_, descriptor_, registro, clave, recuperacion_);
  }
  if (Resultado r = detalle::abrir(nombre_, apertura_, descriptor_, &recuperacion_); !r) return r;
  const Resultado r =
      agregarBloqueado(nombre_, apertura_, descriptor_, registro, clave, recuperacion_);
  descriptor_.cerrar();
  return r;
}

Resultado ArchivoSuelto::bloquearParaLeer() {
  return detalle::bloquear(nombre_, Apertura::leer, descriptor_, nullptr,
                           sistema::Modo::compartido);
}

Resultado ArchivoSuelto::alDia() {
  if (!descriptor_.abierto()) return {};
  switch (sistema::adondeLleva(nombre_, descriptor_.numero())) {
    case sistema::Destino::esteArchivo:
      return {};
    case sistema::Destino::fallido:
      return falla(Falla::noSeAbre, sistema::ultimoError());
    case sistema::Destino::otroArchivo:
    case sistema::Destino::ninguno:
      break;
  }
  return detalle::abrir(nombre_, apertura_, descriptor_);
}

namespace {

template <class R>
Busqueda buscar(Archivo<R>& archivo, std::string_view codigo) {
  const Clave clave{codigo, Formato<R>::codigo, sizeof(R::codigo)};
  if (archivo.abierto()) {
    if (Resultado r = archivo.alDia(); !r) return Busqueda{false, r};
    return buscarEn(archivo.manejador(), Formato<R>::tamano, clave);
  }
  Descriptor descriptor;
  if (Resultado r = detalle::abrir(Formato<R>::archivo, Apertura::leer, descriptor); !r) {
    // No file, no code: the append makes the file.
    return Busqueda{false, r.falla == Falla::noExiste ? Resultado{} : r};
  }
  return buscarEn(descriptor.numero(), Formato<R>::tamano, clave);
}

}  // namespace

Busqueda buscarCodigo(Archivo<Alumno>& alumnos, std::string_view codigo) {
  return buscar(alumnos, codigo);
}

Busqueda buscarCodigo(Archivo<Curso>& cursos, std::string_view codigo) {
  return buscar(cursos, codigo);
}

}  // namespace store
