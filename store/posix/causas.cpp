// What errno's numbers mean to the programs.
#include "store/sistema.hpp"

#include <cerrno>

namespace store::sistema {

// The store says EISDIR for a directory and EINVAL for anything else that is
// not a regular file.
Causa causaDe(int numeroError, const char*) {
  switch (numeroError) {
    case ENOENT:
      return Causa::noExiste;
    case EACCES:
    case EPERM:
      return Causa::sinPermiso;
    case EISDIR:
      return Causa::esDirectorio;
    case EINVAL:
      return Causa::noEsArchivoComun;
    case EIO:
      return Causa::entradaSalida;
    case ENOSPC:
      return Causa::discoLleno;
    case EDQUOT:
      return Causa::cuotaLlena;
    case ENOMEM:
      return Causa::sinMemoria;
    case EPIPE:
      return Causa::tuberiaCerrada;
    case EBADF:
      return Causa::noAbierta;
    case EROFS:
      return Causa::soloLectura;
    case ENOTDIR:
      return Causa::noEsCarpeta;
    case ENAMETOOLONG:
      return Causa::nombreLargo;
    case ELOOP:
      return Causa::demasiadosEnlaces;
    case EMFILE:
    case ENFILE:
      return Causa::demasiadosAbiertos;
    case EFBIG:
    case EOVERFLOW:
      return Causa::demasiadoGrande;
    case EBUSY:
    case ETXTBSY:
      return Causa::enUsoPorOtroPrograma;
    case EEXIST:
      return Causa::yaExiste;
    case EXDEV:
      return Causa::otroDisco;
    case ENXIO:
    case ENODEV:
      return Causa::sinDispositivo;
    case ESTALE:
    case ENOTCONN:
    case ETIMEDOUT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETDOWN:
    case ENETUNREACH:
    case ECONNRESET:
    case ECONNABORTED:
      return Causa::redPerdida;
    case EINTR:
      return Causa::interrumpido;
    case ENOTEMPTY:
      return Causa::carpetaNoVacia;
    case EOPNOTSUPP:
    case ENOSYS:
      return Causa::noPermitido;
    case ENOLCK:
      return Causa::sinCerrojos;
    default:
      return Causa::otra;
  }
}

}  // namespace store::sistema
