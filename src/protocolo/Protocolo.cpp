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
  Bytes mensagem = cabecalho(tipo, payload.size());
  mensagem.insert(mensagem.end(), payload.begin(), payload.end());
  return mensagem;
}

Bytes cabecalho(TipoMensagem tipo, std::size_t tamanhoPayload) {
  Bytes mensagem;
  mensagem.reserve(tamanhoPayload + 5);
  anexarBE(mensagem, static_cast<std::uint32_t>(tamanhoPayload + 1));
  mensagem.push_back(static_cast<std::uint8_t>(tipo));
  return mensagem;
}

}  // namespace Protocolo
}  // namespace orbelo
