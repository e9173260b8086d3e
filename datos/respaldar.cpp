#include "datos/respaldar.hpp"

#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

#include "datos/lectura.hpp"
#include "datos/motivo.hpp"
#include "store/sistema.hpp"

namespace datos {
namespace {

using store::Alumno;
using store::Curso;
using store::Descriptor;
using store::Formato;
using store::Manejador;
using store::NotaAlumno;
namespace sistema = store::sistema;

// Read and written a piece at a time: memory stays the same whatever the
// files' size.
constexpr std::size_t kTrozo = 256 * 1024;
static_assert(kTrozo % sistema::kAlineacion == 0);

// Backups of one minute in one folder before giving up.
constexpr int kNombres = 1000;

// A 64-bit digest of bytes fed in pieces of any size, so that a copy read
// back in other pieces gives the digest its original gave.
class Huella {
 public:
  void agregar(const unsigned char* bytes, std::size_t cantidad) noexcept {
    total_ += cantidad;
    for (; cantidad > 0 && llenos_ != 0; ++bytes, --cantidad)
      ponerByte(*bytes);
    for (; cantidad >= 8; bytes += 8, cantidad -= 8) {
      std::uint64_t palabra;
      std::memcpy(&palabra, bytes, sizeof palabra);
      mezclar(palabra);
    }
    for (; cantidad > 0; ++bytes, --cantidad)
      ponerByte(*bytes);
  }

  std::uint64_t valor() const noexcept {
    Huella fin = *this;
    fin.mezclar(pendiente_);
    fin.mezclar(total_);
    return fin.h_;
  }

 private:
  void ponerByte(unsigned char byte) noexcept {
    pendiente_ |= std::uint64_t{byte} << (8 * llenos_);
    if (++llenos_ == 8) {
      mezclar(pendiente_);
      pendiente_ = 0;
      llenos_ = 0;
    }
  }
  void mezclar(std::uint64_t palabra) noexcept {
    h_ = (h_ ^ palabra) * 0x9E3779B97F4A7C15u;
    h_ ^= h_ >> 29;
  }

  std::uint64_t h_ = 0x243F6A8885A308D3u;
  std::uint64_t pendiente_ = 0;  // the bytes of a word not yet whole
  unsigned llenos_ = 0;          // how many
  std::uint64_t total_ = 0;      // bytes fed
};

// One of the school's files and its copy.
struct Copia {
  Copia(const char* archivo_, std::size_t tamanoRegistro_, const char* uno_, const char* varios_)
      : archivo(archivo_), tamanoRegistro(tamanoRegistro_), uno(uno_), varios(varios_) {}

  const char* archivo;  // the same name in the school's folder and in the backup
  std::size_t tamanoRegistro;
  const char* uno;      // "alumno"
  const char* varios;   // "alumnos"
  bool existe = false;  // copied, or being copied
  std::int64_t bytes = 0;
  std::uint64_t huella = 0;  // of the bytes read from the original
  Descriptor destino;        // open until the copy is flushed
};

std::string contar(std::int64_t cantidad, const char* uno, const char* varios) {
  return std::to_string(cantidad) + " " + (cantidad == 1 ? uno : varios);
}

class Respaldo {
 public:
  explicit Respaldo(const std::string& carpeta)
      : carpeta_(carpeta), memoria_(kTrozo + kAlineacion) {
    const auto direccion = reinterpret_cast<std::uintptr_t>(memoria_.data());
    trozo_ = memoria_.data() + ((kAlineacion - direccion % kAlineacion) % kAlineacion);
  }
  Respaldo(const Respaldo&) = delete;
  Respaldo& operator=(const Respaldo&) = delete;
  ~Respaldo() { deshacer(); }

  std::optional<std::string> hacer(Salida& salida);

 private:
  static constexpr std::size_t kAlineacion = sistema::kAlineacion;

  std::string nombre(int vez) const { return vez == 1 ? base_ : base_ + "-" + std::to_string(vez); }
  std::string fallaDestino(int numeroError) const {
    return fallaDestino(motivo(numeroError, nullptr));
  }
  std::string fallaDestino(const std::string& motivo) const {
    return "No se puede respaldar en " + mostrable(carpeta_) + " (" + motivo + ")";
  }

  std::optional<std::string> crearTrabajo();
  template <class R>
  std::optional<std::string> copiarArchivo(Copia& copia, Copia* temporal);
  std::optional<std::string> copiar(Manejador origen, Copia& copia);
  std::optional<std::string> escribir(Copia& copia, std::size_t cantidad);
  std::optional<std::string> grabar(Copia& copia);
  std::optional<std::string> comprobar(const Copia& copia);
  std::optional<std::string> darNombre();
  void deshacer() noexcept;

  std::string carpeta_;  // where the backup goes, as the clerk named it
  std::string base_;     // respaldo-2026-12-07-1530
  int vez_ = 1;          // the name's number: 1 for the base, then -2, -3...
  std::string trabajo_;  // the working folder, while it is there
  std::string final_;    // the finished backup
  Copia copias_[4] = {
      {Formato<Alumno>::archivo, Formato<Alumno>::tamano, "alumno", "alumnos"},
      {Formato<Curso>::archivo, Formato<Curso>::tamano, "curso", "cursos"},
      {Formato<NotaAlumno>::archivo, Formato<NotaAlumno>::tamano, "nota", "notas"},
      {Formato<Alumno>::temporal, Formato<Alumno>::tamano, "alumno", "alumnos"},
  };
  std::vector<unsigned char> memoria_;
  unsigned char* trozo_;  // kTrozo bytes of memoria_, aligned
};

// The working folder's name cannot be taken for a finished backup's, and
// it is made only where none of that name is: two backups started in the
// same minute never share one.
std::optional<std::string> Respaldo::crearTrabajo() {
  for (; vez_ <= kNombres; ++vez_) {
    const std::string final = sistema::dentroDe(carpeta_, nombre(vez_).c_str());
    const std::string trabajo = final + ".incompleto";
    const int error = sistema::crearCarpeta(trabajo);
    if (sistema::yaEsta(error)) continue;
    if (error != 0) return fallaDestino(error);
    if (sistema::hayAlgo(final.c_str())) {
      sistema::borrarCarpeta(trabajo);
      continue;
    }
    trabajo_ = trabajo;
    return std::nullopt;
  }
  return fallaDestino("ya hay " + std::to_string(kNombres) + " respaldos de este minuto");
}

// The lock is held while the file is read and written into its copy, and
// no longer: the flush, which may be slow on a USB stick, comes after it.
// A deletion writes TEMPORAL.txt only while it holds the student file's
// lock, so it is copied under that lock taken shared; when there is no
// student file, as it is.
template <class R>
std::optional<std::string> Respaldo::copiarArchivo(Copia& copia, Copia* temporal) {
  Fuente<R> fuente;
  if (const Lectura error = fuente.abrir()) return explicar(*error);
  if (fuente.existe()) {
    if (auto falla = copiar(fuente.descriptor(), copia)) return falla;
  }
  if (temporal == nullptr) return std::nullopt;
  Descriptor descriptor;
  const store::Resultado r = sistema::abrir(temporal->archivo, store::Apertura::leer, descriptor);
  if (r) return copiar(descriptor.numero(), *temporal);
  if (r.falla == store::Falla::noExiste) return std::nullopt;
  return explicar(ErrorLectura{temporal->archivo, r.numeroError});
}

std::optional<std::string> Respaldo::copiar(Manejador origen, Copia& copia) {
  const int error =
      sistema::crearArchivo(sistema::dentroDe(trabajo_, copia.archivo), copia.destino);
  if (error != 0) return fallaDestino(error);
  copia.existe = true;
  Huella huella;
  for (;;) {
    std::size_t leidos = 0;
    if (!sistema::leerEn(origen, trozo_, kTrozo, copia.bytes, leidos)) {
      return explicar(ErrorLectura{copia.archivo, sistema::ultimoError()});
    }
    if (leidos == 0) break;
    huella.agregar(trozo_, leidos);
    if (auto falla = escribir(copia, leidos)) return falla;
    copia.bytes += static_cast<std::int64_t>(leidos);
  }
  copia.huella = huella.valor();
  return std::nullopt;
}

// The first `cantidad` bytes of the piece, after what the copy holds.
std::optional<std::string> Respaldo::escribir(Copia& copia, std::size_t cantidad) {
  std::size_t escritos = 0;
  if (!sistema::escribirTodo(copia.destino.numero(), trozo_, cantidad, copia.bytes, escritos)) {
    return fallaDestino(sistema::ultimoError());
  }
  return std::nullopt;
}

// Some file systems report a failed write only at the close.
std::optional<std::string> Respaldo::grabar(Copia& copia) {
  if (!sistema::sincronizar(copia.destino.numero()) || !sistema::cerrarComprobando(copia.destino)) {
    return fallaDestino(sistema::ultimoError());
  }
  return std::nullopt;
}

std::optional<std::string> Respaldo::comprobar(const Copia& copia) {
  Descriptor descriptor;
  const int error =
      sistema::abrirParaComprobar(sistema::dentroDe(trabajo_, copia.archivo), descriptor);
  if (error != 0) return fallaDestino(error);
  Huella huella;
  std::int64_t leido = 0;
  for (;;) {
    std::size_t leidos = 0;
    if (!sistema::leerEn(descriptor.numero(), trozo_, kTrozo, leido, leidos)) {
      return fallaDestino(sistema::ultimoError());
    }
    huella.agregar(trozo_, leidos);
    leido += static_cast<std::int64_t>(leidos);
    // A short read is the end: one more would start where an unbuffered
    // read may not.
    if (leidos < kTrozo) break;
  }
  if (leido != copia.bytes || huella.valor() != copia.huella) {
    return fallaDestino(std::string("la copia de ") + copia.archivo +
                        " leida del disco no es igual al original");
  }
  return std::nullopt;
}

// A name another backup took meanwhile is left to it: the next one is tried.
std::optional<std::string> Respaldo::darNombre() {
  for (int vez = vez_; vez <= kNombres; ++vez) {
    const std::string final = sistema::dentroDe(carpeta_, nombre(vez).c_str());
    const int error = sistema::renombrarCarpeta(trabajo_, final);
    if (error == 0) {
      trabajo_.clear();
      final_ = final;
      return std::nullopt;
    }
    if (!sistema::yaEsta(error)) return fallaDestino(error);
  }
  return fallaDestino("ya hay " + std::to_string(kNombres) + " respaldos de este minuto");
}

void Respaldo::deshacer() noexcept {
  if (trabajo_.empty()) return;
  for (Copia& copia : copias_) {
    if (!copia.existe) continue;
    copia.destino.cerrar();
    sistema::borrarArchivo(sistema::dentroDe(trabajo_, copia.archivo));
  }
  sistema::borrarCarpeta(trabajo_);
  trabajo_.clear();
}

std::optional<std::string> Respaldo::hacer(Salida& salida) {
  constexpr char kNingunArchivo[] = "no hay archivos de datos en esta carpeta";
  bool alguno = false;
  for (const Copia& copia : copias_)
    alguno = alguno || sistema::hayAlgo(copia.archivo);
  if (!alguno) return kNingunArchivo;
  if (const int error = sistema::comprobarCarpeta(carpeta_); error != 0) {
    return fallaDestino(error);
  }

  const std::time_t ahora = std::time(nullptr);
  char base[32];
  const std::tm* hora = std::localtime(&ahora);
  if (hora == nullptr || std::strftime(base, sizeof base, "respaldo-%Y-%m-%d-%H%M", hora) == 0) {
    return fallaDestino("no se puede leer la hora");
  }
  base_ = base;
  if (auto falla = crearTrabajo()) return falla;

  Copia& temporal = copias_[3];
  if (auto falla = copiarArchivo<Alumno>(copias_[0], &temporal)) return falla;
  if (auto falla = copiarArchivo<Curso>(copias_[1], nullptr)) return falla;
  if (auto falla = copiarArchivo<NotaAlumno>(copias_[2], nullptr)) return falla;
  alguno = false;
  for (Copia& copia : copias_) {
    if (!copia.existe) continue;
    alguno = true;
    if (auto falla = grabar(copia)) return falla;
  }
  if (!alguno) return kNingunArchivo;
  if (const store::Resultado r = sistema::sincronizarNombres(trabajo_.c_str()); !r) {
    return fallaDestino(r.numeroError);
  }
  for (const Copia& copia : copias_) {
    if (!copia.existe) continue;
    if (auto falla = comprobar(copia)) return falla;
  }
  if (auto falla = darNombre()) return falla;
  if (const store::Resultado r = sistema::sincronizarNombres(carpeta_.c_str()); !r) {
    return "El respaldo quedo en " + mostrable(final_) +
           ", pero su nombre puede no estar en el disco (" + motivo(r.numeroError, nullptr) + ")";
  }

  salida.poner("Respaldo en " + mostrable(final_) + "\n");
  for (const Copia& copia : copias_) {
    // The scratch file is named only when a deletion left it behind.
    if (!copia.existe && &copia == &temporal) continue;
    std::string linea = "  " + std::string(copia.archivo);
    linea.resize(19, ' ');
    if (!copia.existe) {
      linea += "no estaba en esta carpeta";
    } else {
      const auto tamano = static_cast<std::int64_t>(copia.tamanoRegistro);
      linea += contar(copia.bytes / tamano, copia.uno, copia.varios);
      if (const std::int64_t sobrante = copia.bytes % tamano; sobrante != 0) {
        linea += " y " + contar(sobrante, "byte", "bytes") + " de un registro incompleto";
      }
      linea += " (" + contar(copia.bytes, "byte", "bytes") + ")";
    }
    salida.poner(linea + "\n");
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> respaldar(const std::string& carpeta, Salida& salida) {
  Respaldo respaldo(carpeta);
  return respaldo.hacer(salida);
}

}  // namespace datos
