#include "datos/lectura.hpp"

#include <algorithm>

#include "datos/motivo.hpp"

namespace datos {

using store::Alumno;
using store::Curso;
using store::Formato;
using store::NotaAlumno;

std::string explicar(const ErrorLectura& error) {
  if (error.enUso) return std::string("Archivo ") + error.archivo + " en uso, intente mas tarde";
  return std::string("No se puede leer el archivo ") + error.archivo + " (" +
         motivo(error.numeroError, error.archivo) + ")";
}

void TablaCodigos::vaciar(std::size_t maximo) {
  claves_.clear();
  // Half the slots stay free, so that a search ends after a probe or two.
  std::size_t ranuras = 16;
  desplazamiento_ = 60;
  while (ranuras < 2 * maximo) {
    ranuras *= 2;
    --desplazamiento_;
  }
  ranuras_.assign(ranuras, 0);
  mascara_ = ranuras - 1;
}

TablaCodigos::Clave TablaCodigos::claveDe(std::string_view codigo) {
  // Built in registers: a copy through memory of a length known only now
  // would stall every search.
  Clave clave;
  const std::size_t largo = std::min(codigo.size(), kLargoMaximo);
  for (std::size_t i = 0; i < largo; ++i) {
    const std::uint64_t byte = static_cast<unsigned char>(codigo[i]);
    if (i < 8) {
      clave.alto |= byte << (8 * i);
    } else {
      clave.bajo |= byte << (8 * (i - 8));
    }
  }
  return clave;
}

std::uint64_t TablaCodigos::mezcla(const Clave& clave) {
  // The top bits of the product depend on every bit of the code; codes that
  // differ only in their last digits land far apart.
  return (clave.alto ^ clave.bajo * 0xC2B2AE3D27D4EB4Fu) * 0x9E3779B97F4A7C15u;
}

std::size_t TablaCodigos::ranuraDe(const Clave& clave) const {
  const std::uint64_t h = mezcla(clave);
  const std::uint32_t marca = marcaDe(h);
  for (std::size_t i = h >> desplazamiento_;; i = (i + 1) & mascara_) {
    const std::uint32_t ranura = ranuras_[i];
    if (ranura == 0) return i;
    if ((ranura & ~kNumeros) == marca && claves_[(ranura & kNumeros) - 1] == clave) return i;
  }
}

std::uint32_t TablaCodigos::agregar(std::string_view codigo) {
  const Clave clave = claveDe(codigo);
  std::uint32_t& ranura = ranuras_[ranuraDe(clave)];
  if (ranura == 0) {
    claves_.push_back(clave);
    ranura = marcaDe(mezcla(clave)) | static_cast<std::uint32_t>(claves_.size());
  }
  return (ranura & kNumeros) - 1;
}

std::uint32_t TablaCodigos::buscar(std::string_view codigo) const {
  const std::uint32_t ranura = ranuras_[ranuraDe(claveDe(codigo))];
  return ranura == 0 ? kNinguno : (ranura & kNumeros) - 1;
}

UnionNotas::UnionNotas(const Fuente<NotaAlumno>& notas, const Fuente<Alumno>& alumnos,
                       const Fuente<Curso>& cursos)
    : notas_(notas), alumnos_(alumnos), cursos_(cursos) {}

bool UnionNotas::siguienteBloque() {
  bloque_.clear();
  if (error_) return false;
  while (bloque_.size() < kBloque) {
    const unsigned char* bytes = notas_.siguiente();
    if (bytes == nullptr) {
      error_ = notas_.error();
      if (error_) return false;
      break;
    }
    decodificar(store::BytesDe<NotaAlumno>(bytes, Formato<NotaAlumno>::tamano),
                bloque_.emplace_back());
  }
  if (bloque_.empty()) return false;

  codigosAlumno_.vaciar(bloque_.size());
  codigosCurso_.vaciar(bloque_.size());
  numeroAlumno_.clear();
  numeroCurso_.clear();
  for (const NotaAlumno& nota : bloque_) {
    numeroAlumno_.push_back(codigosAlumno_.agregar(texto(nota.codigoAlumno)));
    numeroCurso_.push_back(codigosCurso_.agregar(texto(nota.codigoCurso)));
  }

  nombresAlumno_.resize(codigosAlumno_.cantidad());
  error_ = hallar(alumnos_, codigosAlumno_, sizeof(NotaAlumno::codigoAlumno), alumnoHallado_,
                  [&](std::uint32_t numero, std::size_t, const unsigned char* bytes) {
                    Nombres& n = nombresAlumno_[numero];
                    std::memcpy(n.apellido, bytes + Formato<Alumno>::apellido, sizeof n.apellido);
                    std::memcpy(n.nombre, bytes + Formato<Alumno>::nombre, sizeof n.nombre);
                  });
  if (error_) return false;
  nombresCurso_.resize(codigosCurso_.cantidad());
  error_ = hallar(cursos_, codigosCurso_, sizeof(NotaAlumno::codigoCurso), cursoHallado_,
                  [&](std::uint32_t numero, std::size_t, const unsigned char* bytes) {
                    std::memcpy(nombresCurso_[numero].nombre, bytes + Formato<Curso>::nombre,
                                sizeof(NombreCurso::nombre));
                  });
  return !error_;
}

const UnionNotas::Nombres* UnionNotas::alumno(std::size_t i) const {
  const std::uint32_t numero = numeroAlumno_[i];
  return alumnoHallado_[numero] ? &nombresAlumno_[numero] : nullptr;
}

const UnionNotas::NombreCurso* UnionNotas::curso(std::size_t i) const {
  const std::uint32_t numero = numeroCurso_[i];
  return cursoHallado_[numero] ? &nombresCurso_[numero] : nullptr;
}

}  // namespace datos
