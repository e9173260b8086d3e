// What Windows' GetLastError codes mean to the programs.
#include "store/sistema.hpp"

#include <windows.h>

namespace store::sistema {
namespace {

bool esDirectorio(const char* archivo) {
  const DWORD atributos = ::GetFileAttributesA(archivo);
  return atributos != INVALID_FILE_ATTRIBUTES && (atributos & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

// A directory cannot be opened as a file: Windows says only "access denied".
// The store says ERROR_BAD_FILE_TYPE for what is not a file on a disk.
Causa causaDe(int numeroError, const char* archivo) {
  switch (static_cast<DWORD>(numeroError)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Causa::noExiste;
    case ERROR_ACCESS_DENIED:
      return archivo != nullptr && esDirectorio(archivo) ? Causa::esDirectorio : Causa::sinPermiso;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return Causa::enUsoPorOtroPrograma;
    case ERROR_BAD_FILE_TYPE:
      return Causa::noEsArchivoComun;
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_CRC:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_IO_DEVICE:
    case ERROR_GEN_FAILURE:
      return Causa::entradaSalida;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Causa::discoLleno;
    case 1295:  // ERROR_DISK_QUOTA_EXCEEDED, missing from some SDKs' headers
      return Causa::cuotaLlena;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return Causa::sinMemoria;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED:
      return Causa::tuberiaCerrada;
    case ERROR_INVALID_HANDLE:
      return Causa::noAbierta;
    case ERROR_WRITE_PROTECT:
      return Causa::soloLectura;
    case ERROR_DIRECTORY:
      return Causa::noEsCarpeta;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return Causa::nombreLargo;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return Causa::nombreNoValido;
    case ERROR_CANT_RESOLVE_FILENAME:
      return Causa::demasiadosEnlaces;
    case ERROR_TOO_MANY_OPEN_FILES:
      return Causa::demasiadosAbiertos;
    case ERROR_FILE_TOO_LARGE:
      return Causa::demasiadoGrande;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return Causa::yaExiste;
    case ERROR_NOT_SAME_DEVICE:
      return Causa::otroDisco;
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_UNIT:
      return Causa::sinDispositivo;
    case ERROR_NETNAME_DELETED:
    case ERROR_BAD_NETPATH:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_NETWORK_UNREACHABLE:
    case ERROR_SEM_TIMEOUT:
      return Causa::redPerdida;
    case ERROR_OPERATION_ABORTED:
      return Causa::interrumpido;
    case ERROR_DIR_NOT_EMPTY:
      return Causa::carpetaNoVacia;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
      return Causa::noPermitido;
    default:
      return Causa::otra;
  }
}

}  // namespace store::sistema
