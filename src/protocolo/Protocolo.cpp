#include "Protocolo.hpp"

namespace orbelo {

std::optional<TipoMensagem> tipoMensagem(std::uint8_t valor) {
  if (valor < static_cast<std::uint8_t>(TipoMensagem::config) ||
      valor > static_cast<std::uint8_t>(TipoMensagem::exibicao)) {
    return std::nullopt;
  }
  return static_cast<TipoMensagem>(valor);
}

namespace Protocolo {

Bytes empacotar(TipoMensagem tipo, VistaBytes payload) {
  Bytes quadro;
  quadro.reserve(payload.size() + 5);
  anexarBE(quadro, static_cast<std::uint32_t>(payload.size() + 1));
  quadro.push_back(static_cast<std::uint8_t>(tipo));
  quadro.insert(quadro.end(), payload.begin(), payload.end());
  return quadro;
}

}  // namespace Protocolo
}  // namespace orbelo
