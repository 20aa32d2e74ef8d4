#pragma once

#include <stdexcept>
#include <utility>
#include <vector>

#include "Protocolo.hpp"

namespace orbelo {

// The framing layer's only error: a length field of 0 or above the limit.
class ErroProtocolo : public std::runtime_error {
 public:
  ErroProtocolo() : std::runtime_error("fluxo de dados corrompido") {}
};

using Mensagem = std::pair<TipoMensagem, Bytes>;

// Cuts a received byte stream, in chunks of any size, into complete messages.
class LeitorMensagens {
 public:
  // Returns every message completed by this chunk, in stream order.
  // Throws ErroProtocolo and is left empty on a corrupt length.
  std::vector<Mensagem> alimentar(VistaBytes pedaco);

 private:
  bool completarPendente(VistaBytes& pedaco, std::vector<Mensagem>& mensagens);

  // Only ever the beginning of one incomplete frame.
  Bytes buffer;
};

}  // namespace orbelo
