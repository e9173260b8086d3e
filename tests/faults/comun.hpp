// What the fault tests share: the texts the clerk is shown, records of every
// kind, and the state of the program's directory.
#pragma once

#include <sys/types.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "alumnos.hpp"
#include "files.hpp"
#include "store/registros.hpp"
#include "tests/store/modelo.hpp"

namespace fallos {

inline const std::string kEliminado = " Registro eliminado....!!! ";
inline const std::string kNoSeElimino = " No se pudo eliminar el registro ...!!! ";
inline const std::string kNoEsta = " No se encuentra ese alumno...!!! ";
inline const std::string kCursoRegistrado = " CURSO REGISTRADO... !!! ";
inline const std::string kOtroAlumno = " Desea ingresar datos de otro alumno <S/N> : ";
inline const std::string kOtroCurso = " Desea ingresar datos de otro curso <S/N> : ";
inline const std::string kOtraNota = " Desea ingresar notas de otro alumno <S/N> : ";
// The grade screen's only word when its file cannot be opened.
inline const std::string kCrearArchivo = "Crear el archivo";
inline const std::string kNoExiste = "No existe el archivo !!!";

inline std::string noSeAbre(const std::string& archivo) {
  return " No se puede abrir el archivo " + archivo + " ...!!! ";
}
inline std::string noSeGraba(const std::string& archivo) {
  return " No se pudo grabar en el archivo " + archivo + " ...!!! ";
}

inline bool muestra(const std::string& salida, const std::string& texto) {
  return salida.find(texto) != std::string::npos;
}

template <class R>
std::string comoTexto(const store::Bytes<R>& bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The 50 stored bytes of a course, as the program writes one.
inline std::string curso(std::string_view codigo, std::string_view nombre, std::int32_t creditos) {
  store::Curso c{};
  store::copiarCodigo(c.codigo, codigo);
  (void)store::copiarTexto(c.nombre, nombre);
  c.creditos = creditos;
  return comoTexto<store::Curso>(store::codificar(c));
}

// The 35 stored bytes of one student's grades in one course.
inline std::string nota(std::string_view alumno, std::string_view codigoCurso,
                        std::vector<std::int32_t> notas) {
  store::NotaAlumno n{};
  store::copiarCodigo(n.codigoAlumno, alumno);
  store::copiarCodigo(n.codigoCurso, codigoCurso);
  n.practica1 = notas.at(0);
  n.practica2 = notas.at(1);
  n.practica3 = notas.at(2);
  n.examenParcial = notas.at(3);
  n.examenFinal = notas.at(4);
  return comoTexto<store::NotaAlumno>(store::codificar(n));
}

// A student as the entry screen stores one: zeros after every text.
inline std::string alumnoTecleado(std::string_view codigo, std::string_view apellido,
                                  std::string_view nombre, std::int32_t edad) {
  store::Alumno a{};
  (void)store::copiarTexto(a.codigo, codigo);
  (void)store::copiarTexto(a.apellido, apellido);
  (void)store::copiarTexto(a.nombre, nombre);
  a.edad = edad;
  return comoTexto<store::Alumno>(store::codificar(a));
}

// A student file without the students whose code is `codigo`; a trailing
// fragment goes too, as a deletion drops it.
inline std::string sinCodigo(std::string_view alumnos, std::string_view codigo) {
  constexpr std::size_t kTamano = store::Formato<store::Alumno>::tamano;
  std::string quedan;
  for (std::size_t i = 0; i + kTamano <= alumnos.size(); i += kTamano) {
    const std::string_view registro = alumnos.substr(i, kTamano);
    if (!store::codigoIgual(std::span<const char>(registro.data(), 15), codigo)) quedan += registro;
  }
  return quedan;
}

// Whether process `pid` has `archivo` (a name in its directory) open.
inline bool tieneAbierto(pid_t pid, const std::string& archivo) {
  std::error_code error;
  for (const std::filesystem::directory_entry& fd :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    if (std::filesystem::read_symlink(fd.path(), error).filename() == archivo && !error)
      return true;
  }
  return false;
}

// Empties the directory, whatever is in it.
inline void vaciar(const harness::ScratchDir& dir) {
  for (const auto& entrada : std::filesystem::directory_iterator(dir.path()))
    std::filesystem::remove_all(entrada.path());
}

}  // namespace fallos
