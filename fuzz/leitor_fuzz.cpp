// The frame reader fed one stream in chunks of every size: whatever the cut, it must deliver
// exactly the frames a plain walk over the whole stream finds, and fail exactly where it does.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "protocolo/LeitorMensagens.hpp"

namespace {

using namespace orbelo;

struct Esperado {
  std::vector<Mensagem> mensagens;
  bool corrompido = false;
};

// The framing rules stated plainly, one frame after another.
Esperado percorrer(VistaBytes fluxo) {
  Esperado esperado;
  std::size_t em = 0;
  while (fluxo.size() - em >= 4) {
    const auto comprimento = lerBE<std::uint32_t>(fluxo, em);
    if (comprimento == 0 || comprimento > Protocolo::comprimentoMaximo) {
      esperado.corrompido = true;
      return esperado;
    }
    if (fluxo.size() - em - 4 < comprimento) {
      break;
    }
    if (const auto tipo = tipoMensagem(fluxo[em + 4])) {
      const auto payload = fluxo.subspan(em + 5, comprimento - 1);
      esperado.mensagens.emplace_back(*tipo, Bytes(payload.begin(), payload.end()));
    }
    em += 4 + comprimento;
  }
  return esperado;
}

void exigir(bool condicao) {
  if (!condicao) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t tamanho) {
  FuzzedDataProvider entrada(dados, tamanho);
  const auto semente = entrada.ConsumeIntegral<std::uint32_t>();
  const auto fluxo = entrada.ConsumeRemainingBytes<std::uint8_t>();
  const auto esperado = percorrer(fluxo);

  // Chunk sizes from 0 up, drawn from the seed so each input always cuts the same way.
  auto estado = semente | 1u;
  auto proximoCorte = [&] {
    estado ^= estado << 13, estado ^= estado >> 17, estado ^= estado << 5;
    return estado % 9 == 0 ? 0 : estado % 37;
  };

  LeitorMensagens leitor;
  std::vector<Mensagem> recebidas;
  bool falhou = false;
  for (std::size_t em = 0; em < fluxo.size() && !falhou;) {
    const auto corte = std::min<std::size_t>(proximoCorte(), fluxo.size() - em);
    try {
      for (auto& mensagem : leitor.alimentar(VistaBytes(fluxo).subspan(em, corte))) {
        recebidas.push_back(std::move(mensagem));
      }
    } catch (const ErroProtocolo&) {
      falhou = true;
    }
    em += corte;
  }

  exigir(falhou == esperado.corrompido);
  // A failing call drops what it had completed, so after a failure only a prefix came out.
  exigir(recebidas.size() <= esperado.mensagens.size());
  exigir(falhou || recebidas.size() == esperado.mensagens.size());
  for (std::size_t i = 0; i < recebidas.size(); ++i) {
    exigir(recebidas[i] == esperado.mensagens[i]);
  }

  // Whatever happened, a reader that failed starts clean.
  if (falhou) {
    const Bytes ping = Protocolo::empacotar(TipoMensagem::ping, Bytes{1, 2, 3});
    const auto depois = leitor.alimentar(ping);
    exigir(depois.size() == 1 && depois[0].first == TipoMensagem::ping &&
           depois[0].second == Bytes({1, 2, 3}));
  }
  return 0;
}
