#include "LeitorMensagens.hpp"

#include <algorithm>

namespace orbelo {
namespace {

constexpr std::size_t tamanhoComprimento = 4;
// Room kept after a frame leaves the buffer; more than this was grown for one large
// frame and is given back, so a connection does not hold it for the rest of its life.
constexpr std::size_t capacidadeRetida = std::size_t{4} * 1024 * 1024;

std::uint32_t lerComprimento(VistaBytes campo) {
  const auto comprimento = lerBE<std::uint32_t>(campo, 0);
  if (comprimento == 0 || comprimento > Protocolo::comprimentoMaximo) {
    throw ErroProtocolo();
  }
  return comprimento;
}

// The payload may lie in two places (the buffered start and the new chunk); it is copied once.
void entregar(std::uint8_t tipoBruto, VistaBytes inicio, VistaBytes fim, std::vector<Mensagem>& mensagens) {
  const auto tipo = tipoMensagem(tipoBruto);
  if (!tipo) {
    return;  // a type this receiver does not know is skipped without a word
  }
  Bytes payload;
  payload.reserve(inicio.size() + fim.size());
  payload.insert(payload.end(), inicio.begin(), inicio.end());
  payload.insert(payload.end(), fim.begin(), fim.end());
  mensagens.emplace_back(*tipo, std::move(payload));
}

}  // namespace

std::vector<Mensagem> LeitorMensagens::alimentar(VistaBytes pedaco) {
  std::vector<Mensagem> mensagens;
  try {
    if (!buffer.empty() && !completarPendente(pedaco, mensagens)) {
      return mensagens;
    }
    // Complete frames are cut straight out of the chunk; only the unfinished tail is kept.
    std::size_t cursor = 0;
    while (pedaco.size() - cursor >= tamanhoComprimento) {
      const auto comprimento = lerComprimento(pedaco.subspan(cursor));
      const auto corpo = pedaco.subspan(cursor + tamanhoComprimento);
      if (corpo.size() < comprimento) {
        break;
      }
      entregar(corpo[0], corpo.subspan(1, comprimento - 1), {}, mensagens);
      cursor += tamanhoComprimento + comprimento;
    }
    buffer.assign(pedaco.begin() + static_cast<std::ptrdiff_t>(cursor), pedaco.end());
  } catch (const ErroProtocolo&) {
    buffer = Bytes{};
    throw;
  }
  return mensagens;
}

// Finishes the buffered frame with the bytes it still lacks from the front of `pedaco`,
// which is left holding the rest. False when the chunk ran out first.
bool LeitorMensagens::completarPendente(VistaBytes& pedaco, std::vector<Mensagem>& mensagens) {
  if (buffer.size() < tamanhoComprimento) {
    const auto parte = std::min(tamanhoComprimento - buffer.size(), pedaco.size());
    buffer.insert(buffer.end(), pedaco.begin(), pedaco.begin() + static_cast<std::ptrdiff_t>(parte));
    pedaco = pedaco.subspan(parte);
    if (buffer.size() < tamanhoComprimento) {
      return false;
    }
  }
  const std::size_t total = tamanhoComprimento + lerComprimento(buffer);
  const std::size_t falta = total - buffer.size();
  if (pedaco.size() < falta) {
    buffer.insert(buffer.end(), pedaco.begin(), pedaco.end());
    return false;
  }

  const VistaBytes inicio(buffer);
  const VistaBytes fim = pedaco.first(falta);
  if (inicio.size() > tamanhoComprimento) {
    entregar(inicio[tamanhoComprimento], inicio.subspan(tamanhoComprimento + 1), fim, mensagens);
  } else {
    entregar(fim[0], {}, fim.subspan(1), mensagens);
  }
  pedaco = pedaco.subspan(falta);
  buffer.clear();
  if (buffer.capacity() > capacidadeRetida) {
    buffer = Bytes{};
  }
  return true;
}

}  // namespace orbelo
