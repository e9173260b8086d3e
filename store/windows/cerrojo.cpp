// The lock on Windows: LockFileEx on the same far byte as on POSIX. Windows
// locks keep other handles' reads and writes out of the range they cover,
// and no data ever lies there. A lock belongs to the handle, so two opens in
// one process exclude each other as two processes do.
#include "store/sistema.hpp"

#include <windows.h>

namespace store::sistema {

namespace {

HANDLE handle(Manejador manejador) {
  return reinterpret_cast<HANDLE>(manejador);
}

OVERLAPPED enElByte() {
  OVERLAPPED posicion{};
  posicion.Offset = static_cast<DWORD>(kByteDelCerrojo & 0xFFFFFFFF);
  posicion.OffsetHigh = static_cast<DWORD>(kByteDelCerrojo >> 32);
  return posicion;
}

}  // namespace

Intento intentarBloquear(Manejador descriptor, Modo modo) noexcept {
  OVERLAPPED posicion = enElByte();
  const DWORD exclusivo = modo == Modo::exclusivo ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (::LockFileEx(handle(descriptor), exclusivo | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &posicion)) {
    return Intento::tomado;
  }
  return ::GetLastError() == ERROR_LOCK_VIOLATION ? Intento::ocupado : Intento::fallido;
}

bool desbloquear(Manejador descriptor) noexcept {
  OVERLAPPED posicion = enElByte();
  return ::UnlockFileEx(handle(descriptor), 0, 1, 0, &posicion) != 0;
}

// Files are told apart by their volume and their file index, as POSIX tells
// them by device and inode.
Destino adondeLleva(const char* nombre, Manejador descriptor) noexcept {
  BY_HANDLE_FILE_INFORMATION abierto{};
  if (!::GetFileInformationByHandle(handle(descriptor), &abierto)) return Destino::fallido;
  const HANDLE nombrado =
      ::CreateFileA(nombre, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (nombrado == INVALID_HANDLE_VALUE) {
    const DWORD numero = ::GetLastError();
    return numero == ERROR_FILE_NOT_FOUND || numero == ERROR_PATH_NOT_FOUND ? Destino::ninguno
                                                                            : Destino::fallido;
  }
  BY_HANDLE_FILE_INFORMATION datos{};
  const bool leido = ::GetFileInformationByHandle(nombrado, &datos) != 0;
  const DWORD numero = ::GetLastError();
  ::CloseHandle(nombrado);
  if (!leido) {
    ::SetLastError(numero);
    return Destino::fallido;
  }
  const bool mismo = datos.dwVolumeSerialNumber == abierto.dwVolumeSerialNumber &&
                     datos.nFileIndexHigh == abierto.nFileIndexHigh &&
                     datos.nFileIndexLow == abierto.nFileIndexLow;
  return mismo ? Destino::esteArchivo : Destino::otroArchivo;
}

}  // namespace store::sistema
