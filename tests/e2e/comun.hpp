// What several end-to-end tests check the same way.
#pragma once

#include <gtest/gtest.h>
#include <termios.h>

#include "terminal.hpp"

namespace e2e {

inline const harness::Colour kDefault = harness::Colour::terminalDefault();
inline const harness::Colour kBrightWhite = harness::Colour::indexed(15);
inline const harness::Colour kYellow = harness::Colour::indexed(11);

// The main menu, whole, waiting for an option.
inline void expectMenu(const harness::Terminal& t) {
  SCOPED_TRACE(t.dump());
  EXPECT_EQ(t.row(3), "                    BASE DE DATOS DE ALUMNOS");
  EXPECT_EQ(t.row(4), "                    ________________________");
  EXPECT_EQ(t.row(6), "               < 1  > Ingresar alumnos");
  EXPECT_EQ(t.row(8), "               < 2  > Ingresar cursos");
  EXPECT_EQ(t.row(10), "               < 3  > Ingresar notas de alumnos");
  EXPECT_EQ(t.row(12), "               < 4  > Reporte de alumnos");
  EXPECT_EQ(t.row(14), "               < 5  > Eliminar");
  EXPECT_EQ(t.row(16), "               < 0  > Finalizar");
  EXPECT_EQ(t.row(19), "                    < Edite Opcion > ==>");
  EXPECT_EQ(t.cursor(), (harness::Position{42, 19}));
}

// The terminal as a shell wants it: line mode, echo, signals from the keyboard.
inline bool inLineMode(const termios& mode) {
  return (mode.c_lflag & ICANON) && (mode.c_lflag & ECHO) && (mode.c_lflag & ISIG);
}

}  // namespace e2e
