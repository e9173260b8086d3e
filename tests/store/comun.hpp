// What the store's tests share: a directory of their own for each test, and
// files written and read as raw bytes with the standard library alone, so
// that the same tests run on every platform.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "store/archivos.hpp"

namespace store::prueba {

namespace fs = std::filesystem;
using store::Alumno;
using store::Curso;
using store::Falla;
using store::NotaAlumno;

inline std::string leerArchivo(const char* nombre) {
  std::ifstream entrada(nombre, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(entrada), {});
}

inline void escribirArchivo(const char* nombre, const std::string& bytes) {
  std::ofstream salida(nombre, std::ios::binary | std::ios::trunc);
  salida.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(salida.good());
}

template <class R>
std::string bytesDe(const R& registro) {
  const store::Bytes<R> bytes = store::codificar(registro);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A student whose code field carries junk after its zero, as records written
// by other programs may: a rewrite must keep such bytes as they are.
inline Alumno alumno(const std::string& codigo, const char* apellido, std::int32_t edad) {
  Alumno resultado;
  EXPECT_TRUE(store::copiarTexto(resultado.codigo, codigo));
  if (codigo.size() < 14) resultado.codigo[14] = static_cast<char>('a' + edad % 26);
  EXPECT_TRUE(store::copiarTexto(resultado.apellido, apellido));
  EXPECT_TRUE(store::copiarTexto(resultado.nombre, "Nombre"));
  resultado.edad = edad;
  return resultado;
}

inline std::string codigoDe(const Alumno& registro) {
  return registro.codigo;
}

inline std::vector<std::string> codigosEscaneados(const store::Archivo<Alumno>& archivo,
                                                  store::Resultado* estado = nullptr) {
  std::vector<std::string> codigos;
  store::Recorrido recorrido(archivo);
  Alumno registro;
  while (recorrido.siguiente(registro))
    codigos.push_back(codigoDe(registro));
  if (estado != nullptr) *estado = recorrido.estado();
  return codigos;
}

// Every student a scan delivers, as the bytes they were stored as.
inline std::string bytesEscaneados(const store::Archivo<Alumno>& archivo,
                                   store::Resultado* estado = nullptr) {
  std::string bytes;
  store::Recorrido recorrido(archivo);
  Alumno registro;
  while (recorrido.siguiente(registro))
    bytes += bytesDe(registro);
  if (estado != nullptr) *estado = recorrido.estado();
  return bytes;
}

// Anything by that name, a dangling link too.
inline bool existe(const char* nombre) {
  std::error_code error;
  return fs::exists(fs::symlink_status(nombre, error));
}

class Archivos : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device azar;
    for (int intento = 0; intento < 100 && directorio_.empty(); ++intento) {
      const fs::path candidato =
          fs::temp_directory_path() / ("alumnos-store-" + std::to_string(azar()));
      if (fs::create_directory(candidato)) directorio_ = candidato;
    }
    ASSERT_FALSE(directorio_.empty());
    anterior_ = fs::current_path();
    fs::current_path(directorio_);
  }
  void TearDown() override {
    fs::current_path(anterior_);
    fs::remove_all(directorio_);
  }

  // Two students, then `fragmento` stray bytes.
  std::string dosAlumnos(std::size_t fragmento = 0) {
    return bytesDe(a_) + bytesDe(b_) + std::string(fragmento, 'F');
  }

  const Alumno a_ = alumno("12345678A", "Perez", 20);
  const Alumno b_ = alumno("87654321B", "Gomez", 26);
  const Alumno c_ = alumno("11111111C", "Ruiz", 10);

 private:
  fs::path directorio_;
  fs::path anterior_;
};

// --- file names ---

}  // namespace store::prueba
