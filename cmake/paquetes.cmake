# What a school installs, made by CPack (./paquetes.sh runs it): on Windows a
# zip whose two programs and LEEME.txt run from wherever it is unpacked; on
# Debian and Ubuntu a .deb with the programs, their manual pages, the manual
# and the copyright (installed by docs/, which pandoc is needed to build).
set(CPACK_PACKAGE_NAME alumnos)
set(CPACK_PACKAGE_VENDOR "Equipo de alumnos")
set(CPACK_PACKAGE_CONTACT "Equipo de alumnos <alumnos@example.org>")
set(CPACK_STRIP_FILES ON)
set(ALUMNOS_PROGRAMAS alumnos alumnos-datos)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  # The version and what each program is, in its Properties on Windows.
  enable_language(RC)
  set(descripciones "Alumnos, cursos y notas de un colegio"
                    "Los datos de alumnos: exportar, importar, verificar y respaldar")
  foreach(PROGRAMA DESCRIPCION IN ZIP_LISTS ALUMNOS_PROGRAMAS descripciones)
    configure_file(cmake/version.rc.in ${PROGRAMA}.rc @ONLY)
    target_sources(${PROGRAMA} PRIVATE ${PROJECT_BINARY_DIR}/${PROGRAMA}.rc)
  endforeach()
  # The zip unpacks into the folder Explorer's "Extract all" makes for it.
  install(TARGETS ${ALUMNOS_PROGRAMAS} RUNTIME DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME alumnos-${PROJECT_VERSION}-windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(TARGETS ${ALUMNOS_PROGRAMAS} RUNTIME DESTINATION bin)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME alumnos_${PROJECT_VERSION}_amd64.deb)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  set(CPACK_DEBIAN_PACKAGE_SECTION education)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "students, courses and grades of a school / alumnos, cursos y notas
Un programa de consola, en castellano, para la secretaría de un colegio:
guarda los alumnos, los cursos y las notas en archivos de registros fijos
en la carpeta donde se inicia, y se maneja con un menú numerado. Varias
personas pueden trabajar a la vez en la misma carpeta. alumnos-datos lleva
los datos a una hoja de cálculo y los trae de ella, revisa los archivos y
los respalda.

A console program, in Spanish, for a school office: it keeps students,
courses and grades in fixed-size record files in the directory it starts
in, driven by a numbered menu. Several clerks may work at once on one
folder. alumnos-datos exports the data to spreadsheets and imports it,
checks the files and backs them up.")
endif()

include(CPack)
