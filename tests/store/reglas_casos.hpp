// Values of every field and what the rules make of them, for the tests of
// each reader of the rules: the rules themselves, and an import that must
// take and refuse rows by the very same verdicts.
#pragma once

#include <string>

#include "store/reglas.hpp"

namespace reglas_casos {

using store::Campo;
using store::Veredicto;

struct Caso {
  Campo campo;
  std::string valor;
  Veredicto veredicto;
};

inline const Caso kCasos[] = {
    {Campo::codigoAlumno, "12345678A", Veredicto::bien},
    {Campo::codigoAlumno, "12345678a", Veredicto::bien},
    {Campo::codigoAlumno, "1234567AB", Veredicto::forma},
    {Campo::codigoAlumno, "123456789", Veredicto::forma},
    {Campo::codigoAlumno, "12345678", Veredicto::forma},
    {Campo::codigoAlumno, "12345678AB", Veredicto::forma},
    {Campo::codigoAlumno, "12345678\xD1", Veredicto::forma},  // N with a tilde
    {Campo::codigoAlumno, "", Veredicto::forma},
    {Campo::codigoCurso, "MA101A", Veredicto::bien},
    {Campo::codigoCurso, "ma101a", Veredicto::bien},
    {Campo::codigoCurso, "M1101A", Veredicto::forma},
    {Campo::codigoCurso, "MA10AA", Veredicto::forma},
    {Campo::codigoCurso, "MA101", Veredicto::forma},
    {Campo::codigoCurso, "MA101AB", Veredicto::forma},
    {Campo::nombreAlumno, "Perez", Veredicto::bien},
    {Campo::nombreAlumno, "", Veredicto::bien},
    {Campo::nombreAlumno, std::string(19, 'a'), Veredicto::bien},
    {Campo::nombreAlumno, std::string(20, 'a'), Veredicto::largo},
    {Campo::nombreAlumno, "de la Cruz", Veredicto::noLetras},
    {Campo::nombreAlumno, "O'Neil", Veredicto::noLetras},
    {Campo::nombreAlumno, "P\xE9rez", Veredicto::noLetras},  // e with an acute accent
    {Campo::nombreAlumno, "Ana1", Veredicto::noLetras},
    {Campo::nombreCurso, std::string(39, 'F'), Veredicto::bien},
    {Campo::nombreCurso, std::string(40, 'F'), Veredicto::largo},
    {Campo::nombreCurso, "Fisica I", Veredicto::noLetras},
    {Campo::edad, "0", Veredicto::bien},
    {Campo::edad, "60", Veredicto::bien},
    {Campo::edad, "060", Veredicto::bien},
    {Campo::edad, "", Veredicto::bien},  // an empty line is 0
    {Campo::edad, "61", Veredicto::rango},
    {Campo::edad, "4294967356", Veredicto::rango},  // 60 beyond 32 bits
    {Campo::edad, "-3", Veredicto::noDigitos},
    {Campo::edad, "1.5", Veredicto::noDigitos},
    {Campo::edad, " 20", Veredicto::noDigitos},
    {Campo::creditos, "1", Veredicto::bien},
    {Campo::creditos, "5", Veredicto::bien},
    {Campo::creditos, "0", Veredicto::rango},
    {Campo::creditos, "", Veredicto::rango},
    {Campo::creditos, "6", Veredicto::rango},
    {Campo::nota, "20", Veredicto::bien},
    {Campo::nota, "", Veredicto::bien},
    {Campo::nota, "21", Veredicto::rango},
    {Campo::nota, "12a", Veredicto::noDigitos},
    {Campo::codigoAlumnoNota, "123", Veredicto::bien},
    {Campo::codigoAlumnoNota, "", Veredicto::bien},
    {Campo::codigoAlumnoNota, "ab c-9 #!", Veredicto::bien},  // as typed, unchecked
    {Campo::codigoAlumnoNota, "1234567890", Veredicto::largo},
    {Campo::codigoCursoNota, "MA101A", Veredicto::bien},
    {Campo::codigoCursoNota, "MA101AB", Veredicto::largo},
};

}  // namespace reglas_casos
