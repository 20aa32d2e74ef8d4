#pragma once

#include <array>
#include <cstddef>
#include <optional>
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

// Cuts a received byte stream, in chunks of any size, into complete messages. Each
// payload byte is copied once, into its message, however the chunks cut the frame.
class LeitorMensagens {
 public:
  // Returns every message completed by this chunk, in stream order.
  // Throws ErroProtocolo and is left empty on a corrupt length.
  std::vector<Mensagem> alimentar(VistaBytes pedaco);

 private:
  void continuar(VistaBytes& pedaco, std::vector<Mensagem>& mensagens);

  // The one frame not yet whole: its length field and type byte as far as they came,
  // then its payload (only for a known type) and the count of payload bytes still due.
  std::array<std::uint8_t, 5> cabecalho{};
  std::size_t noCabecalho = 0;
  std::optional<TipoMensagem> tipo;
  Bytes payload;
  std::size_t faltam = 0;
};

}  // namespace orbelo
