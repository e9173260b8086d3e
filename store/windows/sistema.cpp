// The record files' system calls on Windows: handles from CreateFileA, always
// binary, shared for reading, writing and deleting (so that another copy of
// the program holding a file open never makes the replacement fail);
// ReadFile / WriteFile at an offset, FlushFileBuffers, SetEndOfFile, and
// MoveFileExA for the one-step replacement. There is no directory to flush:
// MOVEFILE_WRITE_THROUGH returns once the new name is on the disk.
#include "store/sistema.hpp"

#include <windows.h>

#include <algorithm>
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

Resultado falla(Falla tipo, int numeroError) {
  return Resultado{tipo, numeroError};
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

DWORD trozo(std::size_t cantidad) {
  return static_cast<DWORD>(std::min<std::size_t>(cantidad, 1u << 30));
}

}  // namespace

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

bool identidad(Manejador manejador, detalle::Identidad& identidad) noexcept {
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

bool escribirEn(Manejador manejador, const unsigned char* bytes, std::size_t cantidad,
                std::int64_t desplazamiento, std::size_t& escritos) noexcept {
  OVERLAPPED posicion = en(desplazamiento);
  DWORD hecho = 0;
  if (!::WriteFile(handle(manejador), bytes, trozo(cantidad), &hecho, &posicion)) return false;
  if (hecho == 0) {  // no progress and no reason given: never loop on it
    ::SetLastError(ERROR_WRITE_FAULT);
    return false;
  }
  escritos = hecho;
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
  temporal =
      Descriptor(manejadorDe(::CreateFileA(nombre, GENERIC_READ | GENERIC_WRITE, kCompartido,
                                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!temporal.abierto()) return falla(Falla::noSeCrea, error());
  return {};
}

bool quitar(const char* nombre) noexcept {
  return ::DeleteFileA(nombre) != 0;
}

std::string archivoReal(const char* nombre) {
  return nombre;
}

// Windows 10 (from 1709) on NTFS replaces a file that others hold open with
// delete sharing, as a POSIX rename does: tried first, the file replaced
// still open and locked. Elsewhere (older Windows, other file systems, wine)
// no file held open can be replaced: the caller's handle is closed, which
// gives its lock back, just before MoveFileExA. A copy that appends in that
// moment holds the old file open, so the move fails and nothing changes;
// only a copy that opened, appended to and closed the old file all within
// those two calls would see its record go with the old file.
Resultado reemplazar(const char* origen, const std::string& destino, Descriptor& abierto) {
  if (abierto.abierto() && renombrarComoPosix(origen, destino)) return {};
  abierto.cerrar();
  if (!::MoveFileExA(origen, destino.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return falla(Falla::renombrar, error());
  }
  return {};
}

// Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
Resultado renombrarSinPisar(const char* origen, const char* destino) {
  if (!::MoveFileExA(origen, destino, MOVEFILE_WRITE_THROUGH)) {
    return falla(Falla::renombrar, error());
  }
  return {};
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

}  // namespace store::sistema
