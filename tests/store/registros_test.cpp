// Record layouts against bytes written out by hand, and the field helpers.
#include "store/registros.hpp"
#include "modelo.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

namespace {

using store::Alumno;
using store::Curso;
using store::NotaAlumno;

std::string ceros(std::size_t cantidad) {
  return std::string(cantidad, '\0');
}

std::string octetos(std::initializer_list<int> valores) {
  std::string salida;
  for (const int valor : valores)
    salida.push_back(static_cast<char>(valor));
  return salida;
}

template <class R>
std::string bytesDe(const R& registro) {
  const store::Bytes<R> bytes = store::codificar(registro);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

template <class R>
R desde(const std::string& bytes) {
  EXPECT_EQ(bytes.size(), store::Formato<R>::tamano);
  R registro;
  std::memset(&registro, 0x55, sizeof registro);  // what a previous record left
  store::decodificar(
      store::BytesDe<R>(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()),
      registro);
  return registro;
}

template <std::size_t N>
std::string campo(const char (&texto)[N]) {
  return std::string(texto, N);
}

const char k19[] = "ABCDEFGHIJKLMNOPQRS";
const char k39[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklm";
static_assert(sizeof k19 == 20 && sizeof k39 == 40);

struct CasoAlumno {
  const char* nombreCaso;
  Alumno alumno;
  std::string bytes;
};

TEST(LayoutAlumno, StudentsAreStoredByteForByte) {
  const CasoAlumno casos[] = {
      {"ordinary student", Alumno{"12345678A", "Perez", "Juan", 20},
       "12345678A" + ceros(6) + "Perez" + ceros(15) + "Juan" + ceros(16) + octetos({20, 0, 0, 0})},
      {"age 10 is a line feed byte, nothing added", Alumno{"00000001B", "Ana", "Eva", 10},
       "00000001B" + ceros(6) + "Ana" + ceros(17) + "Eva" + ceros(17) + octetos({10, 0, 0, 0})},
      {"age 26 is an end-of-file byte, nothing taken", Alumno{"00000002C", "Lu", "Li", 26},
       "00000002C" + ceros(6) + "Lu" + ceros(18) + "Li" + ceros(18) + octetos({26, 0, 0, 0})},
      {"negative age is two's complement", Alumno{"00000003D", "", "", -2},
       "00000003D" + ceros(6) + ceros(20) + ceros(20) + octetos({0xFE, 0xFF, 0xFF, 0xFF})},
      {"bytes are little-endian", Alumno{"00000004E", "X", "Y", 0x01020304},
       "00000004E" + ceros(6) + "X" + ceros(19) + "Y" + ceros(19) + octetos({4, 3, 2, 1})},
  };
  for (const CasoAlumno& caso : casos) {
    SCOPED_TRACE(caso.nombreCaso);
    ASSERT_EQ(caso.bytes.size(), 59u);
    EXPECT_EQ(bytesDe(caso.alumno), caso.bytes);
    const Alumno leido = desde<Alumno>(caso.bytes);
    EXPECT_EQ(campo(leido.codigo), campo(caso.alumno.codigo));
    EXPECT_EQ(campo(leido.apellido), campo(caso.alumno.apellido));
    EXPECT_EQ(campo(leido.nombre), campo(caso.alumno.nombre));
    EXPECT_EQ(leido.edad, caso.alumno.edad);
  }
}

TEST(LayoutAlumno, NineteenLetterNamesFillTheirFieldsUpToTheZero) {
  Alumno alumno{"12345678A", "", "", 18};
  std::memcpy(alumno.apellido, k19, sizeof k19);
  std::memcpy(alumno.nombre, k19, sizeof k19);
  const std::string bytes = bytesDe(alumno);
  EXPECT_EQ(bytes.substr(15, 20), std::string(k19) + '\0');
  EXPECT_EQ(bytes.substr(35, 20), std::string(k19) + '\0');
  EXPECT_EQ(bytes.substr(55), octetos({18, 0, 0, 0}));
}

TEST(LayoutAlumno, BytesAfterTheZeroDoNotChangeTheText) {
  const std::string bytes = "12345678A" + std::string("\0QRSTU", 6) + "Perez" +
                            std::string("\0junkjunkjunkjun", 15) + "Juan" + ceros(16) +
                            octetos({20, 0, 0, 0});
  const Alumno leido = desde<Alumno>(bytes);
  EXPECT_STREQ(leido.codigo, "12345678A");
  EXPECT_STREQ(leido.apellido, "Perez");
  EXPECT_STREQ(leido.nombre, "Juan");
  EXPECT_TRUE(store::codigoIgual(leido.codigo, "12345678A"));
  EXPECT_EQ(bytesDe(leido), bytes);
}

TEST(LayoutAlumno, TextsWithNoTerminatorAreReadWithinTheirField) {
  // Written by something else: every text field full, no zero anywhere.
  const std::string bytes =
      std::string(15, 'C') + std::string(20, 'A') + std::string(20, 'N') + octetos({1, 0, 0, 0});
  const Alumno leido = desde<Alumno>(bytes);
  EXPECT_EQ(std::string(leido.codigo), std::string(14, 'C'));
  EXPECT_EQ(std::string(leido.apellido), std::string(19, 'A'));
  EXPECT_EQ(std::string(leido.nombre), std::string(19, 'N'));
  EXPECT_EQ(leido.edad, 1);
}

TEST(LayoutCurso, CoursesAreStoredByteForByte) {
  struct Caso {
    const char* nombreCaso;
    const char* codigo;
    const char* nombre;
    std::int32_t creditos;
    std::string bytes;
  };
  const Caso casos[] = {
      {"code has no terminator", "MA101A", "Fisica", 3,
       "MA101A" + std::string("Fisica") + ceros(34) + octetos({3, 0, 0, 0})},
      {"39-letter name: its zero is the field's last byte", "ma101a", k39, 5,
       "ma101a" + std::string(k39) + ceros(1) + octetos({5, 0, 0, 0})},
      {"empty name", "ZZ999Z", "", 1, "ZZ999Z" + ceros(40) + octetos({1, 0, 0, 0})},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.nombreCaso);
    ASSERT_EQ(caso.bytes.size(), 50u);
    Curso curso;
    store::copiarCodigo(curso.codigo, caso.codigo);
    ASSERT_TRUE(store::copiarTexto(curso.nombre, caso.nombre));
    curso.creditos = caso.creditos;
    EXPECT_EQ(bytesDe(curso), caso.bytes);

    const Curso leido = desde<Curso>(caso.bytes);
    EXPECT_EQ(std::string(leido.codigo, 6), caso.codigo);
    EXPECT_STREQ(leido.nombre, caso.nombre);
    EXPECT_EQ(leido.creditos, caso.creditos);
  }
}

TEST(LayoutNotaAlumno, GradesAreStoredByteForByte) {
  struct Caso {
    const char* nombreCaso;
    const char* codigoAlumno;
    const char* codigoCurso;
    std::int32_t notas[5];
    std::string bytes;
  };
  const Caso casos[] = {
      {"full codes fill their fields with no terminator",
       "12345678A",
       "MA101A",
       {10, 11, 12, 13, 14},
       "12345678A"
       "MA101A" +
           octetos({10, 0, 0, 0, 11, 0, 0, 0, 12, 0, 0, 0, 13, 0, 0, 0, 14, 0, 0, 0})},
      {"student code '123' is followed by a zero",
       "123",
       "MA1",
       {0, 20, 0, 20, 0},
       "123" + ceros(6) + "MA1" + ceros(3) +
           octetos({0, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0})},
      {"empty student code stores a zero first",
       "",
       "",
       {1, 2, 3, 4, 5},
       ceros(9) + ceros(6) + octetos({1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0})},
      {"large and negative grades keep their byte order",
       "1",
       "2",
       {-1, 256, 65536, 16777216, -256},
       "1" + ceros(8) + "2" + ceros(5) +
           octetos(
               {0xFF, 0xFF, 0xFF, 0xFF, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0xFF, 0xFF, 0xFF})},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.nombreCaso);
    ASSERT_EQ(caso.bytes.size(), 35u);
    NotaAlumno nota;
    store::copiarCodigo(nota.codigoAlumno, caso.codigoAlumno);
    store::copiarCodigo(nota.codigoCurso, caso.codigoCurso);
    nota.practica1 = caso.notas[0];
    nota.practica2 = caso.notas[1];
    nota.practica3 = caso.notas[2];
    nota.examenParcial = caso.notas[3];
    nota.examenFinal = caso.notas[4];
    EXPECT_EQ(bytesDe(nota), caso.bytes);

    const NotaAlumno leida = desde<NotaAlumno>(caso.bytes);
    EXPECT_EQ(campo(leida.codigoAlumno), caso.bytes.substr(0, 9));
    EXPECT_EQ(campo(leida.codigoCurso), caso.bytes.substr(9, 6));
    EXPECT_EQ(leida.practica1, caso.notas[0]);
    EXPECT_EQ(leida.practica2, caso.notas[1]);
    EXPECT_EQ(leida.practica3, caso.notas[2]);
    EXPECT_EQ(leida.examenParcial, caso.notas[3]);
    EXPECT_EQ(leida.examenFinal, caso.notas[4]);
  }
}

TEST(CopiarTexto, ATypedLineNeverSpillsPastItsField) {
  struct Caso {
    const char* texto;
    std::string campo;  // all 5 bytes of the field afterwards
    bool entero;
  };
  const Caso casos[] = {
      {"", ceros(5), true},
      {"ab", "ab" + ceros(3), true},
      {"abcd", "abcd" + ceros(1), true},
      {"abcde", "abcd" + ceros(1), false},
      {"abcdefghij", "abcd" + ceros(1), false},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.texto);
    struct {
      char campo[5];
      char vecino[3];
    } registro;
    std::memset(&registro, 'x', sizeof registro);
    EXPECT_EQ(store::copiarTexto(registro.campo, caso.texto), caso.entero);
    EXPECT_EQ(campo(registro.campo), caso.campo);
    EXPECT_EQ(campo(registro.vecino), "xxx");
  }
}

TEST(CopiarCodigo, TypedCodesAreCutToTheirFieldAndEndedWhenShorter) {
  struct Caso {
    const char* texto;
    std::string campo;  // all 6 bytes
  };
  const Caso casos[] = {
      {"", ceros(6)},       {"123", "123" + ceros(3)}, {"MA101", "MA101" + ceros(1)},
      {"MA101A", "MA101A"}, {"MA101AXYZ", "MA101A"},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.texto);
    struct {
      char campo[6];
      char vecino[2];
    } registro;
    std::memset(&registro, 'x', sizeof registro);
    store::copiarCodigo(registro.campo, caso.texto);
    EXPECT_EQ(campo(registro.campo), caso.campo);
    EXPECT_EQ(campo(registro.vecino), "xx");
  }
}

TEST(CodigoIgual, CodesMatchOnlyExactlyUpToTheirZero) {
  struct Caso {
    std::string almacenado;  // the whole 15-byte field
    std::string tecleado;
    bool igual;
  };
  const Caso casos[] = {
      {"12345678A" + ceros(6), "12345678A", true},
      {"12345678A" + std::string("\0QRSTU", 6), "12345678A", true},
      {"12345678A" + ceros(6), "12345678a", false},
      {"12345678A" + ceros(6), "12345678A ", false},
      {"12345678A" + ceros(6), "12345678", false},
      {"12345678" + ceros(7), "12345678A", false},
      {ceros(15), "", true},
      {ceros(15), "1", false},
      {std::string(15, 'Z'), std::string(15, 'Z'), true},
      {std::string(15, 'Z'), std::string(16, 'Z'), false},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.tecleado);
    ASSERT_EQ(caso.almacenado.size(), 15u);
    char codigo[15];
    std::memcpy(codigo, caso.almacenado.data(), sizeof codigo);
    EXPECT_EQ(store::codigoIgual(codigo, caso.tecleado), caso.igual);
  }
}

TEST(CodigoIgual, CourseCodesWithoutTerminatorCompareAllSixCharacters) {
  const char codigo[6] = {'M', 'A', '1', '0', '1', 'A'};
  EXPECT_TRUE(store::codigoIgual(codigo, "MA101A"));
  EXPECT_FALSE(store::codigoIgual(codigo, "ma101a"));
  EXPECT_FALSE(store::codigoIgual(codigo, "MA101"));
  EXPECT_FALSE(store::codigoIgual(codigo, "MA101AB"));
}

}  // namespace

// --- what a valid student is ---

struct CasoValido {
  const char* nombre;
  std::size_t posicion;  // byte changed in a valid record
  unsigned char valor;
  bool valido;
};

TEST(AlumnoValido, OnlyRecordsTheProgramCouldHaveWrittenAreValid) {
  store::Alumno alumno{};
  ASSERT_TRUE(store::copiarTexto(alumno.codigo, "12345678A"));
  ASSERT_TRUE(store::copiarTexto(alumno.apellido, "Perez"));
  ASSERT_TRUE(store::copiarTexto(alumno.nombre, "Juan"));
  alumno.edad = 20;
  const CasoValido casos[] = {
      {"as written", 0, '1', true},
      {"junk after the code's zero", 12, 'x', true},
      {"junk after the surname's zero", 30, '%', true},
      {"a letter among the code's digits", 3, 'x', false},
      {"a digit in the code's last place", 8, '9', false},
      {"no zero after the code", 9, 'B', false},
      {"a space in the surname", 17, ' ', false},
      {"an accented letter in the name", 36, 0xE9, false},
      {"empty surname", 15, 0, true},
      {"age 61", 55, 61, false},
      {"age 60", 55, 60, true},
      {"negative age", 58, 0xFF, false},
  };
  for (const CasoValido& caso : casos) {
    store::Bytes<store::Alumno> bytes = store::codificar(alumno);
    bytes[caso.posicion] = caso.valor;
    EXPECT_EQ(store::alumnoValido(bytes), caso.valido) << caso.nombre;
  }
  store::Bytes<store::Alumno> lleno = store::codificar(alumno);
  for (std::size_t i = 15; i < 35; ++i)
    lleno[i] = 'a';
  EXPECT_FALSE(store::alumnoValido(lleno)) << "a surname with no zero in its field";
}
