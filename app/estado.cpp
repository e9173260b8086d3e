#include "app/estado.hpp"

namespace {
EstadoPrograma programa{};
}  // namespace

EstadoPrograma& estado() {
  return programa;
}
