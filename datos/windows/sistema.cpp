// alumnos-datos on Windows: the standard handles from GetStdHandle, read
// with ReadFile and written with WriteFile, which take bytes as they are
// whether the handle is a file, a pipe or a console (the C runtime's streams
// would turn every LF into CR LF, and stop reading at a Ctrl+Z); GetLastError
// codes in words; the backup's folders through CreateDirectoryA, CreateFileA
// with CREATE_NEW and MoveFileExA.
#include "datos/sistema.hpp"

#include <windows.h>

#include <algorithm>
#include <new>
#include <stdexcept>

namespace datos::sistema {
namespace {

// A console takes at most some tens of KiB in one call on older Windows.
constexpr std::size_t kTrozoConsola = 16 * 1024;
constexpr std::size_t kTrozo = 1u << 30;

int escribirTodo(DWORD cual, std::string_view bytes) noexcept {
  const HANDLE destino = ::GetStdHandle(cual);
  if (destino == nullptr || destino == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  const std::size_t trozo = ::GetFileType(destino) == FILE_TYPE_CHAR ? kTrozoConsola : kTrozo;
  while (!bytes.empty()) {
    DWORD escritos = 0;
    const auto parte = static_cast<DWORD>(std::min(bytes.size(), trozo));
    if (!::WriteFile(destino, bytes.data(), parte, &escritos, nullptr)) {
      return static_cast<int>(::GetLastError());
    }
    if (escritos == 0) return ERROR_WRITE_FAULT;  // no progress and no reason given
    bytes.remove_prefix(escritos);
  }
  return 0;
}

bool esDirectorio(const char* archivo) {
  const DWORD atributos = ::GetFileAttributesA(archivo);
  return atributos != INVALID_FILE_ATTRIBUTES && (atributos & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// What is left to read on `origen`, after `bytes`; 0 or the GetLastError
// code. Standard input ends at ERROR_BROKEN_PIPE when it is a pipe whose
// writer has gone. Memory that runs out throws.
int leerDesde(HANDLE origen, std::string& bytes) {
  LARGE_INTEGER tamano{};
  if (::GetFileType(origen) == FILE_TYPE_DISK && ::GetFileSizeEx(origen, &tamano)) {
    bytes.reserve(static_cast<std::size_t>(tamano.QuadPart));
  }
  char trozo[64 * 1024];
  for (;;) {
    DWORD leidos = 0;
    if (!::ReadFile(origen, trozo, sizeof trozo, &leidos, nullptr)) {
      const DWORD numero = ::GetLastError();
      return numero == ERROR_BROKEN_PIPE || numero == ERROR_HANDLE_EOF ? 0
                                                                       : static_cast<int>(numero);
    }
    if (leidos == 0) return 0;
    bytes.append(trozo, leidos);
  }
}

}  // namespace

int leerTodo(const char* nombre, std::string& bytes) {
  const HANDLE origen = nombre == nullptr
                            ? ::GetStdHandle(STD_INPUT_HANDLE)
                            : ::CreateFileA(nombre, GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (origen == nullptr || origen == INVALID_HANDLE_VALUE)
    return static_cast<int>(::GetLastError());
  int error = 0;
  try {
    error = leerDesde(origen, bytes);
  } catch (const std::bad_alloc&) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  } catch (const std::length_error&) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  }
  if (nombre != nullptr) ::CloseHandle(origen);
  return error;
}

int escribirSalida(std::string_view bytes) noexcept {
  return escribirTodo(STD_OUTPUT_HANDLE, bytes);
}

int escribirErrores(std::string_view bytes) noexcept {
  return escribirTodo(STD_ERROR_HANDLE, bytes);
}

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

namespace {

constexpr DWORD kCompartido = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int abrirArchivo(const std::string& nombre, DWORD acceso, DWORD como, DWORD banderas,
                 store::detalle::Descriptor& descriptor) {
  const HANDLE h =
      ::CreateFileA(nombre.c_str(), acceso, kCompartido, nullptr, como, banderas, nullptr);
  if (h == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
  descriptor = store::detalle::Descriptor(reinterpret_cast<store::detalle::Manejador>(h));
  return 0;
}

}  // namespace

// "E:" names the current folder of drive E, so nothing goes between.
std::string dentroDe(const std::string& carpeta, const char* nombre) {
  if (carpeta.empty() || carpeta.back() == '\\' || carpeta.back() == '/' || carpeta.back() == ':')
    return carpeta + nombre;
  return carpeta + "\\" + nombre;
}

int comprobarCarpeta(const std::string& carpeta) {
  const DWORD atributos = ::GetFileAttributesA(carpeta.c_str());
  if (atributos == INVALID_FILE_ATTRIBUTES) return static_cast<int>(::GetLastError());
  return (atributos & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ERROR_DIRECTORY;
}

int crearCarpeta(const std::string& nombre) {
  return ::CreateDirectoryA(nombre.c_str(), nullptr) ? 0 : static_cast<int>(::GetLastError());
}

int crearArchivo(const std::string& nombre, store::detalle::Descriptor& descriptor) {
  return abrirArchivo(nombre, GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, descriptor);
}

// Unbuffered reads come from the device, not from the system's cache; they
// must be whole sectors into aligned memory (kAlineacion covers both).
int abrirParaComprobar(const std::string& nombre, store::detalle::Descriptor& descriptor) {
  return abrirArchivo(nombre, GENERIC_READ, OPEN_EXISTING,
                      FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, descriptor);
}

// Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
int renombrarSinPisar(const std::string& origen, const std::string& destino) {
  return ::MoveFileExA(origen.c_str(), destino.c_str(), MOVEFILE_WRITE_THROUGH)
             ? 0
             : static_cast<int>(::GetLastError());
}

bool yaEsta(int numeroError) noexcept {
  return numeroError == ERROR_ALREADY_EXISTS || numeroError == ERROR_FILE_EXISTS;
}

void borrarArchivo(const std::string& nombre) noexcept {
  (void)::DeleteFileA(nombre.c_str());
}

void borrarCarpeta(const std::string& nombre) noexcept {
  (void)::RemoveDirectoryA(nombre.c_str());
}

}  // namespace datos::sistema
