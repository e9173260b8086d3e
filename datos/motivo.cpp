#include "datos/motivo.hpp"

#include "store/sistema.hpp"

namespace datos {

using store::sistema::Causa;

std::string motivo(int numeroError, const char* archivo) {
  switch (store::sistema::causaDe(numeroError, archivo)) {
    case Causa::noExiste:
      return "no existe";
    case Causa::sinPermiso:
      return "sin permiso";
    case Causa::esDirectorio:
      return "es un directorio";
    case Causa::noEsArchivoComun:
      return "no es un archivo comun";
    case Causa::entradaSalida:
      return "error de entrada/salida";
    case Causa::discoLleno:
      return "no queda espacio en el disco";
    case Causa::cuotaLlena:
      return "se acabo el espacio de disco del usuario";
    case Causa::sinMemoria:
      return "no hay memoria";
    case Causa::tuberiaCerrada:
      return "el programa que recibia la salida ya termino";
    case Causa::noAbierta:
      return "no esta abierta";
    case Causa::soloLectura:
      return "el disco es de solo lectura";
    case Causa::noEsCarpeta:
      return "no es una carpeta";
    case Causa::nombreLargo:
      return "el nombre es demasiado largo";
    case Causa::nombreNoValido:
      return "el nombre no es valido";
    case Causa::demasiadosEnlaces:
      return "demasiados enlaces seguidos";
    case Causa::demasiadosAbiertos:
      return "demasiados archivos abiertos";
    case Causa::demasiadoGrande:
      return "el archivo es demasiado grande";
    case Causa::enUsoPorOtroPrograma:
      return "lo esta usando otro programa";
    case Causa::yaExiste:
      return "ya existe";
    case Causa::otroDisco:
      return "esta en otro disco";
    case Causa::sinDispositivo:
      return "el disco no esta conectado";
    case Causa::redPerdida:
      return "se perdio la conexion con la carpeta de red";
    case Causa::interrumpido:
      return "se interrumpio";
    case Causa::carpetaNoVacia:
      return "la carpeta no esta vacia";
    case Causa::noPermitido:
      return "el sistema de archivos no lo permite";
    case Causa::sinCerrojos:
      return "el sistema no tiene cerrojos libres";
    case Causa::otra:
      break;
  }
  return "error " + std::to_string(numeroError) + " del sistema";
}

std::string mostrable(std::string_view texto) {
  std::string visible(texto);
  for (char& c : visible) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return visible;
}

}  // namespace datos
