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
  Bytes quadro = cabecalho(tipo, payload.size());
  quadro.insert(quadro.end(), payload.begin(), payload.end());
  return quadro;
}

Bytes cabecalho(TipoMensagem tipo, std::size_t tamanhoPayload) {
  Bytes quadro;
  quadro.reserve(tamanhoPayload + 5);
  anexarBE(quadro, static_cast<std::uint32_t>(tamanhoPayload + 1));
  quadro.push_back(static_cast<std::uint8_t>(tipo));
  return quadro;
}

}  // namespace Protocolo
}  // namespace orbelo
