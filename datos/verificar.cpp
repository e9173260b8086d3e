#include "datos/verificar.hpp"

#include <string>

#include "console/utf8.hpp"
#include "store/reglas.hpp"
#include "store/sistema.hpp"

namespace datos {

using store::Alumno;
using store::Curso;
using store::Formato;
using store::NotaAlumno;

namespace {

// Records checked at a time for codes stored twice: each block is compared
// with every record before it in one more scan of the file.
constexpr std::size_t kBloque = UnionNotas::kBloque;

// Stored text as it can be shown on a line: Latin-1 as UTF-8, control bytes
// as '?'.
std::string visible(std::string_view latin1) {
  std::string texto;
  for (const char byte : latin1) {
    const auto c = static_cast<unsigned char>(byte);
    char utf8[4];
    texto.append(utf8, console::encodeUtf8(esControl(c) ? '?' : c, utf8));
  }
  return texto;
}

std::string contar(std::size_t cantidad, const char* una, const char* varias) {
  return std::to_string(cantidad) + " " + (cantidad == 1 ? una : varias);
}

// Where a finding is: a file, a record number from 1, and the record's code
// (a grade's two codes). Turned into text only when there is a finding.
struct Lugar {
  const char* archivo;
  std::size_t registro;
  std::string_view codigo;  // none for a trailing fragment
  std::string_view curso;   // a grade's course code; none for other records

  std::string texto() const {
    std::string linea = std::string(archivo) + ", registro " + std::to_string(registro);
    if (curso.data() != nullptr) {
      linea += ", alumno " + visible(codigo) + ", curso " + visible(curso);
    } else if (codigo.data() != nullptr) {
      linea += ", codigo " + visible(codigo);
    }
    return linea;
  }
};

class Informe {
 public:
  explicit Informe(Salida& salida) : salida_(salida) {}

  void problema(const Lugar& lugar, const std::string& que) {
    problema(lugar.texto() + ": " + que);
  }
  void problema(const std::string& linea) {
    ++problemas_;
    escribir("problema: " + linea);
  }
  void aviso(const Lugar& lugar, const std::string& que) { aviso(lugar.texto() + ": " + que); }
  void aviso(const std::string& linea) {
    ++avisos_;
    escribir("aviso: " + linea);
  }
  std::size_t problemas() const { return problemas_; }
  std::size_t avisos() const { return avisos_; }

 private:
  void escribir(const std::string& linea) {
    salida_.poner(linea);
    salida_.poner('\n');
  }

  Salida& salida_;
  std::size_t problemas_ = 0;
  std::size_t avisos_ = 0;
};

// A zero-terminated text field: the finding, if any, for `que` ("el
// apellido"), which must hold letters only and end in a zero.
void revisarNombre(Informe& informe, const Lugar& donde, const char* que,
                   const unsigned char* campo, std::size_t ancho) {
  if (std::memchr(campo, 0, ancho) == nullptr) {
    informe.problema(donde, std::string(que) + " no termina en un cero");
    return;
  }
  const std::string_view nombre = texto(campo, ancho);
  if (!store::todoDeClase(nombre, store::kLetra)) {
    informe.problema(donde, std::string(que) + " \"" + visible(nombre) +
                                "\" tiene caracteres que no son letras");
  }
}

void revisarRango(Informe& informe, const Lugar& donde, const char* que, std::int32_t valor,
                  store::Rango rango) {
  if (!rango.contiene(valor)) {
    informe.problema(donde, std::string(que) + " " + std::to_string(valor) + ", fuera de " +
                                std::to_string(rango.minimo) + " a " +
                                std::to_string(rango.maximo));
  }
}

void revisarAlumno(Informe& informe, const Lugar& donde, const unsigned char* bytes) {
  using F = Formato<Alumno>;
  const unsigned char* codigo = bytes + F::codigo;
  if (std::memchr(codigo, 0, sizeof(Alumno::codigo)) == nullptr) {
    informe.problema(donde, "el codigo no termina en un cero");
  } else {
    if (!store::tieneForma(texto(codigo, sizeof(Alumno::codigo)), store::kFormaCodigoAlumno)) {
      informe.problema(donde, "el codigo no es de 8 digitos y una letra");
    }
  }
  revisarNombre(informe, donde, "el apellido", bytes + F::apellido, sizeof(Alumno::apellido));
  revisarNombre(informe, donde, "el nombre", bytes + F::nombre, sizeof(Alumno::nombre));
  Alumno alumno;
  decodificar(store::BytesDe<Alumno>(bytes, F::tamano), alumno);
  revisarRango(informe, donde, "la edad es", alumno.edad, store::kEdad);
}

void revisarCurso(Informe& informe, const Lugar& donde, const unsigned char* bytes) {
  using F = Formato<Curso>;
  // Six characters and no terminator: a zero among them is out of form too.
  const std::string_view codigo(reinterpret_cast<const char*>(bytes + F::codigo),
                                sizeof(Curso::codigo));
  if (!store::tieneForma(codigo, store::kFormaCodigoCurso)) {
    informe.problema(donde, "el codigo no es de dos letras, tres digitos y una letra");
  }
  revisarNombre(informe, donde, "el nombre", bytes + F::nombre, sizeof(Curso::nombre));
  Curso curso;
  decodificar(store::BytesDe<Curso>(bytes, F::tamano), curso);
  revisarRango(informe, donde, "los creditos son", curso.creditos, store::kCreditos);
}

// The end of a file read through `lector` (a Lector or the grades' union):
// a trailing fragment, or a file that another program changed meanwhile,
// whose end was not seen as it is.
template <class L>
void revisarFin(Informe& informe, const char* archivo, std::size_t registros, const L& lector,
                std::size_t tamano) {
  if (lector.cambiado()) {
    informe.aviso(std::string(archivo) +
                  ": otro programa lo cambio mientras se revisaba; vuelva a verificar");
    return;
  }
  const std::size_t sobrante = lector.sobrante();
  if (sobrante == 0) return;
  informe.problema(Lugar{archivo, registros + 1, {}, {}},
                   "incompleto, " + std::to_string(sobrante) + " de " + std::to_string(tamano) +
                       " bytes al final del archivo");
}

// Every record of a student or course file through `revisarRegistro`, and
// each code stored twice named once for every record after its first, all in
// record order. `registros` receives the count of whole records.
template <class R, class F>
Lectura revisarArchivo(const Fuente<R>& fuente, Informe& informe, std::size_t& registros,
                       F&& revisarRegistro) {
  constexpr std::size_t kTamano = Formato<R>::tamano;
  constexpr std::size_t kAncho = sizeof(R::codigo);
  const char* archivo = Fuente<R>::nombre();
  auto codigoDe = [](const unsigned char* bytes) {
    return texto(bytes + Formato<R>::codigo, kAncho);
  };

  Lector<R> lector(fuente);
  std::vector<unsigned char> bloque;
  TablaCodigos codigos;
  std::vector<std::size_t> primero;  // per code: the first record holding it
  std::vector<bool> antes;           // per code: held by a record before the block
  registros = 0;
  for (bool fin = false; !fin;) {
    bloque.clear();
    while (bloque.size() < kBloque * kTamano) {
      const unsigned char* bytes = lector.siguiente();
      if (bytes == nullptr) {
        if (Lectura e = lector.error()) return e;
        fin = true;
        break;
      }
      bloque.insert(bloque.end(), bytes, bytes + kTamano);
    }
    const std::size_t cantidad = bloque.size() / kTamano;
    codigos.vaciar(cantidad);
    primero.clear();
    for (std::size_t j = 0; j < cantidad; ++j) {
      if (codigos.agregar(codigoDe(&bloque[j * kTamano])) == primero.size()) {
        primero.push_back(registros + j + 1);
      }
    }
    if (registros > 0) {
      Lectura e = hallar(
          fuente, codigos, kAncho, antes,
          [&](std::uint32_t numero, std::size_t n, const unsigned char*) { primero[numero] = n; },
          registros);
      if (e) return e;
    }
    for (std::size_t j = 0; j < cantidad; ++j) {
      const unsigned char* bytes = &bloque[j * kTamano];
      const std::size_t numero = registros + j + 1;
      const std::string_view codigo = codigoDe(bytes);
      const Lugar donde{archivo, numero, codigo, {}};
      revisarRegistro(informe, donde, bytes);
      const std::size_t original = primero[codigos.buscar(codigo)];
      if (original != numero) {
        informe.problema(donde, "el codigo ya esta en el registro " + std::to_string(original));
      }
    }
    registros += cantidad;
  }
  revisarFin(informe, archivo, registros, lector, kTamano);
  return std::nullopt;
}

Lectura revisarNotas(const Fuente<NotaAlumno>& notas, const Fuente<Alumno>& alumnos,
                     const Fuente<Curso>& cursos, Informe& informe, std::size_t& registros) {
  const char* archivo = Fuente<NotaAlumno>::nombre();
  UnionNotas unionNotas(notas, alumnos, cursos);
  registros = 0;
  while (unionNotas.siguienteBloque()) {
    for (std::size_t i = 0; i < unionNotas.cantidad(); ++i) {
      const NotaAlumno& nota = unionNotas.nota(i);
      const Lugar donde{archivo, ++registros, texto(nota.codigoAlumno), texto(nota.codigoCurso)};
      revisarRango(informe, donde, "la practica 1 es", nota.practica1, store::kNota);
      revisarRango(informe, donde, "la practica 2 es", nota.practica2, store::kNota);
      revisarRango(informe, donde, "la practica 3 es", nota.practica3, store::kNota);
      revisarRango(informe, donde, "el examen parcial es", nota.examenParcial, store::kNota);
      revisarRango(informe, donde, "el examen final es", nota.examenFinal, store::kNota);
      // Codes are stored as typed and a deletion keeps a student's grades.
      if (unionNotas.alumno(i) == nullptr) {
        informe.aviso(donde, std::string("el alumno no esta en ") + Fuente<Alumno>::nombre());
      }
      if (unionNotas.curso(i) == nullptr) {
        informe.aviso(donde, std::string("el curso no esta en ") + Fuente<Curso>::nombre());
      }
    }
  }
  if (Lectura e = unionNotas.error()) return e;
  revisarFin(informe, archivo, registros, unionNotas, Formato<NotaAlumno>::tamano);
  return std::nullopt;
}

}  // namespace

Lectura verificar(Salida& salida, std::size_t& problemas) {
  Fuente<Alumno> alumnos;
  Fuente<Curso> cursos;
  Fuente<NotaAlumno> notas;
  if (Lectura e = alumnos.abrir()) return e;
  if (Lectura e = cursos.abrir()) return e;
  if (Lectura e = notas.abrir()) return e;

  Informe informe(salida);
  // Run in the wrong folder, a check that found nothing must not pass for
  // one that found the files sound.
  if (!alumnos.existe() && !cursos.existe() && !notas.existe()) {
    informe.problema("no hay archivos de datos en esta carpeta");
  } else {
    for (const auto& [existe, nombre] :
         {std::pair(alumnos.existe(), alumnos.nombre()),
          std::pair(cursos.existe(), cursos.nombre()), std::pair(notas.existe(), notas.nombre())}) {
      if (!existe) informe.aviso(std::string("no hay ") + nombre + " en esta carpeta");
    }
  }
  std::size_t cantidadAlumnos = 0, cantidadCursos = 0, cantidadNotas = 0;
  if (Lectura e = revisarArchivo(alumnos, informe, cantidadAlumnos, revisarAlumno)) return e;
  if (Lectura e = revisarArchivo(cursos, informe, cantidadCursos, revisarCurso)) return e;
  if (Lectura e = revisarNotas(notas, alumnos, cursos, informe, cantidadNotas)) return e;

  // The program removes its scratch file when a deletion ends, however it ends;
  // one still there was left by a copy that was killed (or is deleting now).
  if (store::sistema::hayAlgo(store::kArchivoTemporal)) {
    informe.aviso(std::string(store::kArchivoTemporal) +
                  ": quedo de una eliminacion que no termino");
  }
  // An import's of courses or grades, the same way.
  for (const char* temporal : {store::kArchivoTemporalCursos, store::kArchivoTemporalNotas}) {
    if (store::sistema::hayAlgo(temporal)) {
      informe.aviso(std::string(temporal) + ": quedo de una importacion que no termino");
    }
  }

  problemas = informe.problemas();
  salida.poner("Revisados " + contar(cantidadAlumnos, "alumno", "alumnos") + ", " +
               contar(cantidadCursos, "curso", "cursos") + " y " +
               contar(cantidadNotas, "nota", "notas") + ": " +
               contar(informe.problemas(), "problema", "problemas") + " y " +
               contar(informe.avisos(), "aviso", "avisos") + "\n");
  return std::nullopt;
}

}  // namespace datos
