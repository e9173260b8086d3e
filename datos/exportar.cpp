#include "datos/exportar.hpp"

namespace datos {

using store::Alumno;
using store::Curso;
using store::Formato;
using store::NotaAlumno;

namespace {

Lectura exportarAlumnos(EscritorCsv& csv, const Salida& salida) {
  Fuente<Alumno> fuente;
  if (Lectura e = fuente.abrir()) return e;
  csv.encabezado({"codigo", "apellido", "nombre", "edad"});
  using F = Formato<Alumno>;
  Lector<Alumno> lector(fuente);
  // Straight from the stored bytes: a text without its zero is shown whole.
  while (const unsigned char* bytes = lector.siguiente()) {
    csv.texto(bytes + F::codigo, sizeof(Alumno::codigo));
    csv.texto(bytes + F::apellido, sizeof(Alumno::apellido));
    csv.texto(bytes + F::nombre, sizeof(Alumno::nombre));
    csv.entero(store::detalle::tomarEntero(bytes + F::edad));
    csv.finDeFila();
    if (salida.fallo() != 0) return std::nullopt;
  }
  return lector.error();
}

Lectura exportarCursos(EscritorCsv& csv, const Salida& salida) {
  Fuente<Curso> fuente;
  if (Lectura e = fuente.abrir()) return e;
  csv.encabezado({"codigo", "nombre", "creditos"});
  using F = Formato<Curso>;
  Lector<Curso> lector(fuente);
  while (const unsigned char* bytes = lector.siguiente()) {
    csv.texto(bytes + F::codigo, sizeof(Curso::codigo));
    csv.texto(bytes + F::nombre, sizeof(Curso::nombre));
    csv.entero(store::detalle::tomarEntero(bytes + F::creditos));
    csv.finDeFila();
    if (salida.fallo() != 0) return std::nullopt;
  }
  return lector.error();
}

Lectura exportarNotas(EscritorCsv& csv, const Salida& salida) {
  Fuente<NotaAlumno> notas;
  Fuente<Alumno> alumnos;
  Fuente<Curso> cursos;
  if (Lectura e = notas.abrir()) return e;
  if (Lectura e = alumnos.abrir()) return e;
  if (Lectura e = cursos.abrir()) return e;
  csv.encabezado({"codigoAlumno", "apellido", "nombre", "codigoCurso", "nombreCurso", "practica1",
                  "practica2", "practica3", "examenParcial", "examenFinal", "promedio"});
  UnionNotas unionNotas(notas, alumnos, cursos);
  while (unionNotas.siguienteBloque()) {
    for (std::size_t i = 0; i < unionNotas.cantidad(); ++i) {
      const NotaAlumno& nota = unionNotas.nota(i);
      csv.texto(nota.codigoAlumno);
      const UnionNotas::Nombres* alumno = unionNotas.alumno(i);
      csv.texto(alumno != nullptr ? texto(alumno->apellido) : std::string_view());
      csv.texto(alumno != nullptr ? texto(alumno->nombre) : std::string_view());
      csv.texto(nota.codigoCurso);
      const UnionNotas::NombreCurso* curso = unionNotas.curso(i);
      csv.texto(curso != nullptr ? texto(curso->nombre) : std::string_view());
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

Lectura exportar(Tema tema, char separador, Salida& salida) {
  EscritorCsv csv(salida, separador);
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
