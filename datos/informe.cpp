#include "datos/informe.hpp"

#include "console/utf8.hpp"

namespace datos {

using store::Campo;
using store::Veredicto;

bool esNombre(Campo campo) {
  return campo == Campo::nombreAlumno || campo == Campo::nombreCurso;
}

bool esCodigoDeNota(Campo campo) {
  return campo == Campo::codigoAlumnoNota || campo == Campo::codigoCursoNota;
}

std::string visible(std::u32string_view caracteres) {
  std::string texto;
  for (const char32_t c : caracteres) {
    char utf8[4];
    const bool control = c <= 0xFF && esControl(static_cast<unsigned char>(c));
    texto.append(utf8, console::encodeUtf8(control ? U'?' : c, utf8));
  }
  return texto;
}

std::string entreComillas(std::u32string_view caracteres) {
  std::string texto(1, '"');
  texto += visible(caracteres);
  texto += '"';
  return texto;
}

std::string contar(std::size_t cantidad, const char* uno, const char* varios) {
  return std::to_string(cantidad) + " " + (cantidad == 1 ? uno : varios);
}

std::string motivoDe(Veredicto veredicto, Campo campo, std::u32string_view valor) {
  switch (veredicto) {
    case Veredicto::forma:
      return entreComillas(valor) + (campo == Campo::codigoAlumno
                                         ? " no es de 8 digitos y una letra"
                                         : " no es de dos letras, tres digitos y una letra");
    case Veredicto::noLetras:
      return entreComillas(valor) + " tiene caracteres que no son letras";
    case Veredicto::noDigitos:
      return entreComillas(valor) + " tiene caracteres que no son digitos";
    case Veredicto::largo:
      return entreComillas(valor) + " tiene " + std::to_string(valor.size()) +
             (esNombre(campo) ? " letras, mas de " : " caracteres, mas de ") +
             std::to_string(store::largoDe(campo));
    case Veredicto::rango: {
      const store::Rango rango = store::rangoDe(campo);
      return (valor.empty() ? std::string("vacio, que es 0,") : visible(valor)) +
             " esta fuera de " + std::to_string(rango.minimo) + " a " +
             std::to_string(rango.maximo);
    }
    case Veredicto::bien:
      break;
  }
  return {};
}

std::string motivoDe(ErrorCsv error) {
  switch (error) {
    case ErrorCsv::comillasSinCerrar:
      return "unas comillas abiertas no se cierran hasta el final del archivo";
    case ErrorCsv::textoTrasComillas:
      return "hay texto despues de las comillas que cierran el campo";
    case ErrorCsv::comillasEnCampo:
      return "hay comillas dentro de un campo que no empieza con comillas";
    case ErrorCsv::ninguno:
      break;
  }
  return {};
}

}  // namespace datos
