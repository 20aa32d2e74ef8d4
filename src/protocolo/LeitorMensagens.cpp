#include "LeitorMensagens.hpp"

#include <algorithm>

namespace orbelo {
namespace {

constexpr std::size_t tamanhoComprimento = 4;
// Room made at once for a frame that comes in pieces: the whole payload when it is no
// larger, so that it is never moved while it grows. A length is only a claim until its
// bytes arrive, and a larger payload grows as they do.
constexpr std::size_t reservaMaxima = std::size_t{4} * 1024 * 1024;

std::uint32_t lerComprimento(VistaBytes campo) {
  const auto comprimento = lerBE<std::uint32_t>(campo, 0);
  if (comprimento == 0 || comprimento > Protocolo::comprimentoMaximo) {
    throw ErroProtocolo();
  }
  return comprimento;
}

}  // namespace

std::vector<Mensagem> LeitorMensagens::alimentar(VistaBytes pedaco) {
  std::vector<Mensagem> mensagens;
  try {
    while (!pedaco.empty()) {
      if (noCabecalho == 0 && pedaco.size() >= tamanhoComprimento) {
        const auto comprimento = lerComprimento(pedaco);
        if (pedaco.size() - tamanhoComprimento >= comprimento) {
          // A whole frame in the chunk is cut straight out of it.
          if (const auto conhecido = tipoMensagem(pedaco[tamanhoComprimento])) {
            const auto corpo = pedaco.subspan(tamanhoComprimento + 1, comprimento - 1);
            mensagens.emplace_back(*conhecido, Bytes(corpo.begin(), corpo.end()));
          }
          pedaco = pedaco.subspan(tamanhoComprimento + comprimento);
          continue;
        }
      }
      continuar(pedaco, mensagens);
    }
  } catch (const ErroProtocolo&) {
    *this = LeitorMensagens{};
    throw;
  }
  return mensagens;
}

// Takes from the front of `pedaco` what the unfinished frame lacks, as much as there is.
void LeitorMensagens::continuar(VistaBytes& pedaco, std::vector<Mensagem>& mensagens) {
  if (noCabecalho < cabecalho.size()) {
    const auto parte = std::min(cabecalho.size() - noCabecalho, pedaco.size());
    std::copy_n(pedaco.begin(), parte, cabecalho.begin() + static_cast<std::ptrdiff_t>(noCabecalho));
    noCabecalho += parte;
    pedaco = pedaco.subspan(parte);
    if (noCabecalho < tamanhoComprimento) {
      return;
    }
    // A corrupt length fails as soon as its four bytes are in, type byte or not.
    faltam = lerComprimento(cabecalho) - 1;
    if (noCabecalho < cabecalho.size()) {
      return;
    }
    // A type this receiver does not know is skipped without a word.
    tipo = tipoMensagem(cabecalho[tamanhoComprimento]);
    if (tipo) {
      payload.reserve(std::min(faltam, reservaMaxima));
    }
  }
  const auto parte = std::min(faltam, pedaco.size());
  if (tipo) {
    payload.insert(payload.end(), pedaco.begin(), pedaco.begin() + static_cast<std::ptrdiff_t>(parte));
  }
  faltam -= parte;
  pedaco = pedaco.subspan(parte);
  if (faltam > 0) {
    return;
  }
  if (tipo) {
    mensagens.emplace_back(*tipo, std::move(payload));
  }
  payload = Bytes{};
  noCabecalho = 0;
  tipo.reset();
}

}  // namespace orbelo
