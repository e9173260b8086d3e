// Memory that does not grow with the files: the program's peak resident
// memory on big files against the same on small ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "alumnos.hpp"
#include "datos.hpp"

namespace {

using datos_test::correr;
using datos_test::nota;

constexpr long kMiB = 1024;  // in KiB, as peak memory is given

// AddressSanitizer holds freed memory back from reuse and shadows every page
// touched, so peak memory under it says nothing about the program's own.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kConSanitizer = true;
#else
constexpr bool kConSanitizer = false;
#endif
constexpr char kPorQue[] = "peak memory is not the program's own under AddressSanitizer";

std::size_t filas(const std::string& csv) {
  return static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n'));
}

TEST(Memoria, AMillionStudentsExportInTheMemoryOfAnEmptyFile) {
  if (kConSanitizer) GTEST_SKIP() << kPorQue;
  constexpr int kAlumnos = 1'000'000;
  harness::ScratchDir lleno, vacio;
  lleno.write("ALUMNO.txt", harness::muchosAlumnos(kAlumnos));
  vacio.write("ALUMNO.txt", "");

  const harness::Script grande = correr(lleno, {"exportar", "alumnos"});
  const harness::Script chico = correr(vacio, {"exportar", "alumnos"});
  ASSERT_EQ(grande.status, 0) << grande.errors;
  ASSERT_EQ(chico.status, 0) << chico.errors;
  EXPECT_EQ(filas(grande.output), kAlumnos + 1u);
  EXPECT_EQ(grande.output.substr(grande.output.size() - 27), "\r\n01000000A,Perez,Juan,20\r\n");
  EXPECT_LT(grande.peakKiB - chico.peakKiB, kMiB)
      << "peak " << grande.peakKiB << " KiB against " << chico.peakKiB << " KiB";
}

// Grades are joined with their students a block at a time: ten blocks of
// grades against many students take what two blocks against a few take.
TEST(Memoria, GradesJoinInMemoryThatDoesNotGrowWithTheFiles) {
  if (kConSanitizer) GTEST_SKIP() << kPorQue;
  auto escribir = [](const harness::ScratchDir& dir, int alumnos, int notas) {
    dir.write("ALUMNO.txt", harness::muchosAlumnos(alumnos));
    std::string bytes;
    char codigo[16];
    for (int i = 0; i < notas; ++i) {
      std::snprintf(codigo, sizeof codigo, "%08dA", i % alumnos + 1);
      bytes += nota(codigo, "MA101A", {1, 2, 3, 4, 5});
    }
    dir.write("NOTAALUMNO.txt", bytes);
  };
  harness::ScratchDir grande, chico;
  escribir(grande, 300'000, 330'000);
  escribir(chico, 70'000, 70'000);

  for (const char* orden : {"exportar", "verificar"}) {
    std::vector<std::string> palabras{orden};
    if (palabras[0] == "exportar") palabras.push_back("notas");
    const harness::Script g = correr(grande, palabras);
    const harness::Script c = correr(chico, palabras);
    ASSERT_EQ(g.status, 0) << g.errors << g.output.substr(0, 500);
    ASSERT_EQ(c.status, 0) << c.errors;
    EXPECT_LT(g.peakKiB - c.peakKiB, kMiB)
        << orden << ": peak " << g.peakKiB << " KiB against " << c.peakKiB << " KiB";
  }
}

}  // namespace
