// The backup's folders and files on Windows: CreateDirectoryA, CreateFileA
// with CREATE_NEW, and MoveFileExA.
#include "store/sistema.hpp"

#include <windows.h>

namespace store::sistema {
namespace {

constexpr DWORD kCompartido = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int abrirArchivo(const std::string& nombre, DWORD acceso, DWORD como, DWORD banderas,
                 Descriptor& descriptor) {
  const HANDLE h =
      ::CreateFileA(nombre.c_str(), acceso, kCompartido, nullptr, como, banderas, nullptr);
  if (h == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
  descriptor = Descriptor(reinterpret_cast<Manejador>(h));
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

int crearArchivo(const std::string& nombre, Descriptor& descriptor) {
  return abrirArchivo(nombre, GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, descriptor);
}

// Unbuffered reads come from the device, not from the system's cache; they
// must be whole sectors into aligned memory (kAlineacion covers both).
int abrirParaComprobar(const std::string& nombre, Descriptor& descriptor) {
  return abrirArchivo(nombre, GENERIC_READ, OPEN_EXISTING,
                      FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, descriptor);
}

// Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
int renombrarCarpeta(const std::string& origen, const std::string& destino) {
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

}  // namespace store::sistema
