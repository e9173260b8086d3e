#include "datos/csv.hpp"

#include <cstring>
#include <utility>

#include "console/utf8.hpp"

namespace datos {

Salida::Salida(Destino destino) : destino_(std::move(destino)), buffer_(new char[kCapacidad]) {}

void Salida::vaciar() {
  if (numeroError_ == 0 && largo_ > 0)
    numeroError_ = destino_(std::string_view(buffer_.get(), largo_));
  largo_ = 0;
}

void Salida::ponerPorPartes(std::string_view texto) {
  vaciar();
  while (!texto.empty()) {
    const std::size_t trozo = texto.size() < kCapacidad ? texto.size() : kCapacidad;
    std::memcpy(reservar(trozo), texto.data(), trozo);
    usado(trozo);
    texto.remove_prefix(trozo);
  }
}

bool Salida::terminar() {
  vaciar();
  return numeroError_ == 0;
}

std::size_t codificarTexto(const char* campo, std::size_t ancho, char separador, char* destino) {
  // An empty text may come with no bytes at all behind it.
  const std::string_view texto(campo, ancho == 0 ? 0 : ::strnlen(campo, ancho));
  // The text goes in one place after the opening quote; it is moved back one
  // place when it needs no quotes, and its quotes are doubled when it does.
  char* const inicio = destino + 1;
  char* p = inicio;
  bool comillas = false;
  if (pareceFormula(texto)) {
    *p++ = '\'';
    comillas = separador == '\'';
  }
  for (const char byte : texto) {
    const auto c = static_cast<unsigned char>(byte);
    if (esControl(c)) {
      *p++ = ' ';
      comillas |= separador == ' ';
    } else if (c < 0x80) {
      *p++ = byte;
      comillas |= byte == separador || byte == '"';
    } else {
      p += console::encodeUtf8(c, p);
    }
  }
  const auto largo = static_cast<std::size_t>(p - inicio);
  if (!comillas) {
    std::memmove(destino, inicio, largo);
    return largo;
  }
  // Doubling from the end, so that no byte is overwritten before it is read.
  std::size_t dobles = 0;
  for (std::size_t i = 0; i < largo; ++i)
    dobles += inicio[i] == '"';
  char* const fin = destino + 1 + largo + dobles;
  *fin = '"';
  char* escribir = fin;
  for (std::size_t i = largo; i-- > 0;) {
    *--escribir = inicio[i];
    if (inicio[i] == '"') *--escribir = '"';
  }
  destino[0] = '"';
  return largo + dobles + 2;
}

std::string campoDeTexto(std::string_view texto, char separador) {
  std::string campo(largoMaximoCampo(texto.size()), '\0');
  campo.resize(codificarTexto(texto.data(), texto.size(), separador, campo.data()));
  return campo;
}

void EscritorCsv::texto(std::string_view latin1) {
  // Stored texts are at most 40 bytes; a text too long for the buffer is cut.
  constexpr std::size_t kMaximo = (Salida::kCapacidad - 8) / 4;
  const std::size_t ancho = latin1.size() < kMaximo ? latin1.size() : kMaximo;
  std::size_t largo;
  char* destino = empezarCampo(largoMaximoCampo(ancho), largo);
  salida_.usado(largo + codificarTexto(latin1.data(), ancho, separador_, destino + largo));
}

void EscritorCsv::numero(const char* digitos, std::size_t cuantos) {
  std::size_t largo;
  char* destino = empezarCampo(cuantos + 2, largo);
  const std::string_view numero(digitos, cuantos);
  // Only an odd separator ('-', '.') can turn up in a number.
  const bool comillas = separadorEnNumeros_ && numero.find(separador_) != std::string_view::npos;
  if (comillas) destino[largo++] = '"';
  std::memcpy(destino + largo, digitos, cuantos);
  largo += cuantos;
  if (comillas) destino[largo++] = '"';
  salida_.usado(largo);
}

namespace {

std::uint64_t magnitud(std::int64_t valor) {
  // Taken as unsigned so that the most negative value has one too.
  return valor < 0 ? 0 - static_cast<std::uint64_t>(valor) : static_cast<std::uint64_t>(valor);
}

// The decimal digits of `resto`, ending at `fin`; returns where they start.
char* ponerDigitos(std::uint64_t resto, char* fin) {
  do {
    *--fin = static_cast<char>('0' + resto % 10);
    resto /= 10;
  } while (resto != 0);
  return fin;
}

}  // namespace

void EscritorCsv::numeroLargo(std::int64_t valor) {
  char digitos[24];
  char* const fin = digitos + sizeof digitos;
  char* inicio = ponerDigitos(magnitud(valor), fin);
  if (valor < 0) *--inicio = '-';
  numero(inicio, static_cast<std::size_t>(fin - inicio));
}

void EscritorCsv::decimas(std::int64_t valor) {
  char digitos[24];
  char* const fin = digitos + sizeof digitos;
  const std::uint64_t m = magnitud(valor);
  fin[-1] = static_cast<char>('0' + m % 10);
  fin[-2] = coma_;
  char* inicio = ponerDigitos(m / 10, fin - 2);
  if (valor < 0) *--inicio = '-';
  numero(inicio, static_cast<std::size_t>(fin - inicio));
}

void EscritorCsv::encabezado(std::span<const std::string_view> nombres) {
  if (marcaUtf8_) salida_.poner("\xEF\xBB\xBF");
  marcaUtf8_ = false;
  for (const std::string_view nombre : nombres)
    texto(nombre);
  finDeFila();
}

}  // namespace datos
