// The files' system calls on Windows: handles from CreateFileA, always
// binary, shared for reading, writing and deleting; ReadFile / WriteFile at an
// offset, FlushFileBuffers, SetEndOfFile, a rename (or MoveFileExA) for the
// one-step replacement and FlushFileBuffers on the folder's handle after it.
// The standard handles from GetStdHandle are read with ReadFile and written
// with WriteFile, which take bytes as they are whether the handle is a file,
// a pipe or a console (the C runtime's streams would turn every LF into
// CR LF, and stop reading at a Ctrl+Z).
#include "store/sistema.hpp"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

namespace store::sistema {
namespace {

constexpr DWORD kCompartido = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE handle(Manejador manejador) {
  return reinterpret_cast<HANDLE>(manejador);
}

Manejador manejadorDe(HANDLE h) {
  return reinterpret_cast<Manejador>(h);
}

int error() {
  return static_cast<int>(::GetLastError());
}

bool noEsta(DWORD numero) {
  return numero == ERROR_FILE_NOT_FOUND || numero == ERROR_PATH_NOT_FOUND;
}

// Only a file on a disk is a record file (not a device, not a pipe).
Resultado comprobarArchivo(const Descriptor& descriptor) {
  if (::GetFileType(handle(descriptor.numero())) != FILE_TYPE_DISK) {
    return falla(Falla::noSeAbre, ERROR_BAD_FILE_TYPE);
  }
  return {};
}

OVERLAPPED en(std::int64_t desplazamiento) {
  OVERLAPPED posicion{};
  posicion.Offset = static_cast<DWORD>(desplazamiento & 0xFFFFFFFF);
  posicion.OffsetHigh = static_cast<DWORD>(desplazamiento >> 32);
  return posicion;
}

// FILE_INFO_BY_HANDLE_CLASS's FileRenameInfoEx, which headers for older
// Windows leave out.
constexpr auto kRenombrarEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// `origen` renamed over `destino` with POSIX semantics; false where the
// system has no such rename or refuses it.
bool renombrarComoPosix(const char* origen, const std::string& destino) {
  const int largo = ::MultiByteToWideChar(CP_ACP, 0, destino.c_str(), -1, nullptr, 0);
  if (largo <= 0) return false;
  std::vector<unsigned char> bytes(sizeof(FILE_RENAME_INFO) +
                                   static_cast<std::size_t>(largo) * sizeof(WCHAR));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(bytes.data());
  info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(largo - 1) * sizeof(WCHAR);
  ::MultiByteToWideChar(CP_ACP, 0, destino.c_str(), -1, info->FileName, largo);
  const HANDLE h = ::CreateFileA(origen, DELETE | SYNCHRONIZE, kCompartido, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool hecho =
      ::SetFileInformationByHandle(h, kRenombrarEx, info, static_cast<DWORD>(bytes.size())) != 0;
  ::CloseHandle(h);
  return hecho;
}

// The most one ReadFile or WriteFile is handed; a console takes at most some
// tens of KiB in one call on older Windows.
constexpr std::size_t kTrozoMaximo = 1u << 30;
constexpr std::size_t kTrozoConsola = 16 * 1024;

DWORD trozo(std::size_t cantidad, std::size_t maximo = kTrozoMaximo) {
  return static_cast<DWORD>(std::min(cantidad, maximo));
}

// The folder that holds `archivo`, as a name CreateFileA takes.
std::string carpetaDe(const std::string& archivo) {
  const std::size_t barra = archivo.find_last_of("\\/");
  if (barra == std::string::npos) return ".";
  return archivo.substr(0, barra + 1);
}

// The names in the folder that holds `archivo`.
Resultado sincronizarCarpeta(const std::string& archivo) {
  return sincronizarNombres(carpetaDe(archivo).c_str());
}

// A file another process holds open, so that it cannot be replaced now.
bool abiertoPorOtro(DWORD numero, const std::string& destino) {
  if (numero == ERROR_SHARING_VIOLATION) return true;
  // Access is also denied to a file marked read-only, which waiting mends not.
  return numero == ERROR_ACCESS_DENIED &&
         (::GetFileAttributesA(destino.c_str()) & FILE_ATTRIBUTE_READONLY) == 0;
}

}  // namespace

// Windows never hands a standard handle's place to a file opened later.
void reservarEstandar() noexcept {}

int ultimoError() noexcept {
  return error();
}

// A directory in the file's place cannot be opened as a file: noSeAbre.
Resultado abrir(const char* nombre, Apertura apertura, Descriptor& descriptor) {
  descriptor.cerrar();
  const DWORD acceso = apertura == Apertura::leer ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  const DWORD como = apertura == Apertura::crear ? OPEN_ALWAYS : OPEN_EXISTING;
  Descriptor nuevo(manejadorDe(
      ::CreateFileA(nombre, acceso, kCompartido, nullptr, como, FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!nuevo.abierto()) {
    const DWORD numero = ::GetLastError();
    return falla(apertura != Apertura::crear && noEsta(numero) ? Falla::noExiste : Falla::noSeAbre,
                 static_cast<int>(numero));
  }
  if (Resultado r = comprobarArchivo(nuevo); !r) return r;
  descriptor = std::move(nuevo);
  return {};
}

void cerrar(Manejador manejador) noexcept {
  ::CloseHandle(handle(manejador));
}

bool cerrarComprobando(Descriptor& descriptor) noexcept {
  return ::CloseHandle(handle(descriptor.soltar())) != 0;
}

bool tamano(Manejador manejador, std::int64_t& bytes) noexcept {
  LARGE_INTEGER largo{};
  if (!::GetFileSizeEx(handle(manejador), &largo)) return false;
  bytes = largo.QuadPart;
  return true;
}

bool identidad(Manejador manejador, Identidad& identidad) noexcept {
  BY_HANDLE_FILE_INFORMATION datos{};
  if (!::GetFileInformationByHandle(handle(manejador), &datos)) return false;
  identidad = {datos.dwVolumeSerialNumber,
               (std::uint64_t{datos.nFileIndexHigh} << 32) | datos.nFileIndexLow};
  return true;
}

bool leerEn(Manejador manejador, unsigned char* bytes, std::size_t cantidad,
            std::int64_t desplazamiento, std::size_t& leidos) noexcept {
  OVERLAPPED posicion = en(desplazamiento);
  DWORD hecho = 0;
  if (!::ReadFile(handle(manejador), bytes, trozo(cantidad), &hecho, &posicion)) {
    if (::GetLastError() != ERROR_HANDLE_EOF) return false;
    hecho = 0;  // at or past the end
  }
  leidos = hecho;
  return true;
}

bool escribirTodo(Manejador manejador, const unsigned char* bytes, std::size_t cantidad,
                  std::int64_t desplazamiento, std::size_t& escritos) noexcept {
  const bool enCurso = desplazamiento == kEnCurso;
  const std::size_t maximo =
      enCurso && ::GetFileType(handle(manejador)) == FILE_TYPE_CHAR ? kTrozoConsola : kTrozoMaximo;
  escritos = 0;
  while (escritos < cantidad) {
    OVERLAPPED posicion = en(desplazamiento + static_cast<std::int64_t>(escritos));
    const DWORD parte = trozo(cantidad - escritos, maximo);
    DWORD hecho = 0;
    if (!::WriteFile(handle(manejador), bytes + escritos, parte, &hecho,
                     enCurso ? nullptr : &posicion)) {
      return false;
    }
    if (hecho == 0) {  // no progress and no reason given: never loop on it
      ::SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    escritos += hecho;
  }
  return true;
}

bool sincronizar(Manejador manejador) noexcept {
  return ::FlushFileBuffers(handle(manejador)) != 0;
}

bool recortar(Manejador manejador, std::int64_t bytes) noexcept {
  LARGE_INTEGER hasta{};
  hasta.QuadPart = bytes;
  return ::SetFilePointerEx(handle(manejador), hasta, nullptr, FILE_BEGIN) &&
         ::SetEndOfFile(handle(manejador));
}

void empezarAGrabar(Manejador, std::int64_t, std::int64_t) noexcept {}

// A stale scratch file is removed, not reused. Its new copy is a plain file:
// the rights of a Windows file come from its folder.
Resultado crearTemporal(const char* nombre, Manejador, Descriptor& temporal) {
  if (!::DeleteFileA(nombre) && !noEsta(::GetLastError())) {
    return falla(Falla::noSeCrea, error());
  }
  temporal = Descriptor(
      manejadorDe(::CreateFileA(nombre, GENERIC_READ | GENERIC_WRITE | DELETE, kCompartido, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!temporal.abierto()) return falla(Falla::noSeCrea, error());
  return {};
}

// Through its handle where it is open: the name may lead to another copy's
// scratch file as soon as this one's lock is given back.
void descartar(const char* nombre, Descriptor& temporal) noexcept {
  if (!temporal.abierto()) {
    (void)::DeleteFileA(nombre);
    return;
  }
  FILE_DISPOSITION_INFO borrar{};
  borrar.DeleteFile = TRUE;
  if (!::SetFileInformationByHandle(handle(temporal.numero()), FileDispositionInfo, &borrar,
                                    sizeof borrar)) {
    (void)::DeleteFileA(nombre);
  }
  temporal.cerrar();
}

std::string archivoReal(const char* nombre) {
  return nombre;
}

// Windows 10 (from 1709) on NTFS replaces a file that others hold open with
// delete sharing, as a POSIX rename does: tried first, the file replaced
// still open and locked. Elsewhere (older Windows, other file systems, wine)
// no file held open can be replaced, the caller's own handle included: that
// is closed, which gives its lock back, and the move is tried until no other
// copy has the old file open. Meanwhile the scratch file's lock (the same
// far byte, on `nuevo`) tells every copy that takes the old file's lock that
// the file is being replaced, and it waits (reemplazoEnCurso): no record
// goes into the old file, and no other deletion starts, before the new file
// is in place. Once moved, `nuevo` is open on the file with the name, its
// lock that file's lock, given back when the name is on the disk.
Resultado reemplazar(const char* origen, const std::string& destino, Descriptor& abierto,
                     Descriptor& nuevo) {
  // A handle to a new file of our own: the lock cannot be taken already.
  (void)intentarBloquear(nuevo.numero());
  if (!abierto.abierto() || !renombrarComoPosix(origen, destino)) {
    abierto.cerrar();
    using Reloj = std::chrono::steady_clock;
    const Reloj::time_point limite = Reloj::now() + kEsperaMaxima;
    std::chrono::milliseconds pausa{1};
    while (!::MoveFileExA(origen, destino.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      const DWORD numero = ::GetLastError();
      if (!abiertoPorOtro(numero, destino))
        return falla(Falla::renombrar, static_cast<int>(numero));
      if (Reloj::now() >= limite) return falla(Falla::enUso, static_cast<int>(numero));
      std::this_thread::sleep_for(pausa);
      pausa = std::min(pausa * 2, std::chrono::milliseconds{10});
    }
  }
  const Resultado r = sincronizarCarpeta(destino);
  nuevo.cerrar();
  return r;
}

bool reemplazoEnCurso(const char* temporal) noexcept {
  if (temporal == nullptr) return false;
  const HANDLE h = ::CreateFileA(temporal, GENERIC_READ, kCompartido, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  // A scratch file whose lock is free is one a killed copy left behind.
  const Manejador manejador = manejadorDe(h);
  const Intento intento = intentarBloquear(manejador);
  if (intento == Intento::tomado) (void)desbloquear(manejador);
  ::CloseHandle(h);
  return intento == Intento::ocupado;
}

// Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
Resultado renombrarSinPisar(const char* origen, const char* destino) {
  if (!::MoveFileExA(origen, destino, MOVEFILE_WRITE_THROUGH)) {
    return falla(Falla::renombrar, error());
  }
  return sincronizarCarpeta(destino);
}

namespace {

// Signalled while nothing is held back. A console control event runs its
// handlers on a thread of its own, the last one added first: this one, added
// for the length of a replacement, makes the event wait for its end; then
// the console's own handler and the system's (which ends the program) run as
// they would have. The store knows nothing of the console's handler, and
// that one nothing of this.
HANDLE sinRetener = nullptr;

BOOL WINAPI esperarAlReemplazo(DWORD) {
  ::WaitForSingleObject(sinRetener, INFINITE);
  return FALSE;
}

}  // namespace

void retenerSenales() noexcept {
  if (sinRetener == nullptr) sinRetener = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (sinRetener == nullptr) return;
  ::ResetEvent(sinRetener);
  if (!::SetConsoleCtrlHandler(esperarAlReemplazo, TRUE)) ::SetEvent(sinRetener);
}

// The event first: a handler already waiting returns before it is removed.
void soltarSenales() noexcept {
  if (sinRetener == nullptr) return;
  ::SetEvent(sinRetener);
  ::SetConsoleCtrlHandler(esperarAlReemplazo, FALSE);
}

// Makes the latest change to a folder's names durable: FlushFileBuffers on a
// handle to the folder, which needs write access and backup semantics to
// open one. File systems that cannot flush a folder say so with these
// errors; there is nothing more to do on them, as MOVEFILE_WRITE_THROUGH
// flushes only a move done as a copy.
Resultado sincronizarNombres(const char* nombre) {
  const HANDLE carpeta = ::CreateFileA(nombre, GENERIC_READ | GENERIC_WRITE, kCompartido, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  bool hecho = carpeta != INVALID_HANDLE_VALUE && ::FlushFileBuffers(carpeta);
  const DWORD numero = hecho ? 0 : ::GetLastError();
  if (carpeta != INVALID_HANDLE_VALUE) ::CloseHandle(carpeta);
  hecho = hecho || numero == ERROR_INVALID_FUNCTION || numero == ERROR_NOT_SUPPORTED ||
          numero == ERROR_INVALID_PARAMETER;
  return hecho ? Resultado{} : falla(Falla::sincronizarDirectorio, static_cast<int>(numero));
}

bool hayAlgo(const char* nombre) noexcept {
  return ::GetFileAttributesA(nombre) != INVALID_FILE_ATTRIBUTES || !noEsta(::GetLastError());
}

// A link (a reparse point) in the scratch file's place is not followed, and a
// file with a second name is left to that name. Write access: flushing it
// needs it.
Hallazgo abrirParaRecuperar(const char* nombre, Descriptor& descriptor) {
  descriptor = Descriptor(manejadorDe(
      ::CreateFileA(nombre, GENERIC_READ | GENERIC_WRITE, kCompartido, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
  if (!descriptor.abierto())
    return noEsta(::GetLastError()) ? Hallazgo::ninguno : Hallazgo::otraCosa;
  BY_HANDLE_FILE_INFORMATION datos{};
  const bool apto =
      comprobarArchivo(descriptor) &&
      ::GetFileInformationByHandle(handle(descriptor.numero()), &datos) &&
      (datos.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
      datos.nNumberOfLinks == 1;
  return apto ? Hallazgo::archivo : Hallazgo::otraCosa;
}

namespace {

int escribirEstandar(DWORD cual, std::string_view bytes) noexcept {
  const HANDLE destino = ::GetStdHandle(cual);
  if (destino == nullptr || destino == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  std::size_t escritos = 0;
  return escribirTodo(manejadorDe(destino), reinterpret_cast<const unsigned char*>(bytes.data()),
                      bytes.size(), kEnCurso, escritos)
             ? 0
             : error();
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

int escribirSalida(std::string_view bytes) noexcept {
  return escribirEstandar(STD_OUTPUT_HANDLE, bytes);
}

int escribirErrores(std::string_view bytes) noexcept {
  return escribirEstandar(STD_ERROR_HANDLE, bytes);
}

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

}  // namespace store::sistema
