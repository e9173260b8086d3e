#include "datos/exportar.hpp"

namespace datos {

using store::Alumno;
using store::Curso;
using store::Formato;
using store::NotaAlumno;

namespace {

// A header row, then fila(bytes) for every whole record of R's file; the
// fields come straight from the stored bytes, so a text without its zero is
// shown whole.
template <class R, class F>
Lectura exportarArchivo(EscritorCsv& csv, const Salida& salida,
                        std::span<const std::string_view> encabezado, F&& fila) {
  Fuente<R> fuente;
  if (Lectura e = fuente.abrir()) return e;
  csv.encabezado(encabezado);
  Lector<R> lector(fuente);
  while (const unsigned char* bytes = lector.siguiente()) {
    fila(bytes);
    csv.finDeFila();
    if (salida.fallo() != 0) return std::nullopt;
  }
  return lector.error();
}

Lectura exportarAlumnos(EscritorCsv& csv, const Salida& salida) {
  using F = Formato<Alumno>;
  return exportarArchivo<Alumno>(csv, salida, kEncabezadoAlumnos, [&](const unsigned char* bytes) {
    csv.texto<sizeof(Alumno::codigo)>(bytes + F::codigo);
    csv.texto<sizeof(Alumno::apellido)>(bytes + F::apellido);
    csv.texto<sizeof(Alumno::nombre)>(bytes + F::nombre);
    csv.entero(store::tomarEntero(bytes + F::edad));
  });
}

Lectura exportarCursos(EscritorCsv& csv, const Salida& salida) {
  using F = Formato<Curso>;
  return exportarArchivo<Curso>(csv, salida, kEncabezadoCursos, [&](const unsigned char* bytes) {
    csv.texto<sizeof(Curso::codigo)>(bytes + F::codigo);
    csv.texto<sizeof(Curso::nombre)>(bytes + F::nombre);
    csv.entero(store::tomarEntero(bytes + F::creditos));
  });
}

Lectura exportarNotas(EscritorCsv& csv, const Salida& salida) {
  Fuente<NotaAlumno> notas;
  Fuente<Alumno> alumnos;
  Fuente<Curso> cursos;
  if (Lectura e = notas.abrir()) return e;
  if (Lectura e = alumnos.abrir()) return e;
  if (Lectura e = cursos.abrir()) return e;
  csv.encabezado(kEncabezadoNotas);
  UnionNotas unionNotas(notas, alumnos, cursos);
  while (unionNotas.siguienteBloque()) {
    for (std::size_t i = 0; i < unionNotas.cantidad(); ++i) {
      const NotaAlumno& nota = unionNotas.nota(i);
      csv.texto(nota.codigoAlumno);
      const UnionNotas::Nombres* alumno = unionNotas.alumno(i);
      if (alumno != nullptr) {
        csv.texto(alumno->apellido);
        csv.texto(alumno->nombre);
      } else {
        csv.texto(std::string_view());
        csv.texto(std::string_view());
      }
      csv.texto(nota.codigoCurso);
      const UnionNotas::NombreCurso* curso = unionNotas.curso(i);
      if (curso != nullptr) {
        csv.texto(curso->nombre);
      } else {
        csv.texto(std::string_view());
      }
      std::int64_t suma = 0;
      for (const std::int32_t valor :
           {nota.practica1, nota.practica2, nota.practica3, nota.examenParcial, nota.examenFinal}) {
        csv.entero(valor);
        suma += valor;
      }
      // A fifth of the sum, in tenths, is exact: twice the sum.
      csv.decimas(2 * suma);
      csv.finDeFila();
    }
    if (salida.fallo() != 0) return std::nullopt;
  }
  return unionNotas.error();
}

}  // namespace

Lectura exportar(Tema tema, const OpcionesExportar& opciones, Salida& salida) {
  EscritorCsv csv(salida, opciones.separador, opciones.marcaUtf8);
  switch (tema) {
    case Tema::alumnos:
      return exportarAlumnos(csv, salida);
    case Tema::cursos:
      return exportarCursos(csv, salida);
    case Tema::notas:
      return exportarNotas(csv, salida);
  }
  return std::nullopt;
}

}  // namespace datos
