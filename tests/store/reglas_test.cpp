// The fields' rules: one table of values and verdicts, and the letters that
// lose their accents.
#include "store/reglas.hpp"

#include <gtest/gtest.h>

#include "reglas_casos.hpp"

namespace {

TEST(Reglas, EachValueGetsTheVerdictTheScreensGiveIt) {
  for (const reglas_casos::Caso& caso : reglas_casos::kCasos) {
    EXPECT_EQ(store::juzgar(caso.campo, caso.valor), caso.veredicto)
        << "field " << static_cast<int>(caso.campo) << ", value \"" << caso.valor << "\"";
  }
}

TEST(Reglas, AccentsTildesDiaeresesAndCedillasComeOffOtherMarksDoNot) {
  struct Caso {
    unsigned char latin1;
    char plana;
  };
  const Caso casos[] = {
      {0xC1, 'A'},
      {0xC4, 'A'},
      {0xC7, 'C'},
      {0xC9, 'E'},
      {0xCD, 'I'},
      {0xD1, 'N'},
      {0xD3, 'O'},
      {0xDA, 'U'},
      {0xDC, 'U'},
      {0xDD, 'Y'},
      {0xE0, 'a'},
      {0xE7, 'c'},
      {0xE8, 'e'},
      {0xEF, 'i'},
      {0xF1, 'n'},
      {0xF6, 'o'},
      {0xFC, 'u'},
      {0xFF, 'y'},
      // A with a ring, AE, ETH, a times sign, O with a stroke, THORN, sharp s,
      // a division sign, and what is no letter at all.
      {0xC5, 0},
      {0xC6, 0},
      {0xD0, 0},
      {0xD7, 0},
      {0xD8, 0},
      {0xDE, 0},
      {0xDF, 0},
      {0xF7, 0},
      {'e', 0},
      {0xA9, 0},
      {0xBF, 0},
  };
  for (const Caso& caso : casos) {
    EXPECT_EQ(store::letraSinAcento(caso.latin1), caso.plana) << static_cast<int>(caso.latin1);
  }
}

}  // namespace
