// The screens the main menu runs: each draws itself, does its work on the
// record files and returns to the menu (or ends the program, where a screen
// says so).
#pragma once

void ingresarAlumnos();  // option 1
void ingresarCursos();   // option 2
void ingresarNotas();    // option 3
void reporteAlumnos();   // option 4
void eliminarAlumno();   // option 5

// At start-up, before the first menu: puts back a student file that a
// deletion left only in TEMPORAL.txt, and says so; says so too when there is
// no student file and TEMPORAL.txt is left as it is.
void recuperarAlumnosAlIniciar();
