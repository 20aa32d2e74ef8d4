#include <algorithm>
#include <chrono>
#include <cstdint>
#include <utility>

#include "Receptor.hpp"

namespace orbelo {

namespace {

using namespace std::chrono_literals;

constexpr auto periodoAviso = 2s;
constexpr std::int64_t taxaMaxima = 65535;

}  // namespace

void Receptor::exibir(Amostra amostra) {
  afirmarNoPrincipal();
  if (camada.status() != CamadaVideo::Status::falhou) {
    camada.enfileirar(std::move(amostra));
    return;
  }
  imprimir("Erro de decodificação: " + camada.erro().value_or("?") + ". Pedindo keyframe.");
  camada.descarregar();
  // The flushed decoder can only start again from a key frame.
  fila.executar([eu = shared_from_this()] {
    eu->aguardandoKeyframe = true;
    eu->pedirKeyframe();
  });
}

void Receptor::iniciarAvisoDeExibicao() {
  fila.executarDepois(periodoAviso, [fraco = weak_from_this()] {
    if (auto eu = fraco.lock()) {
      eu->avisarExibicao();
      eu->iniciarAvisoDeExibicao();
    }
  });
}

void Receptor::avisarExibicao() {
  afirmarNaFila();
  const auto taxa = static_cast<std::uint16_t>(std::min(exibidos / 2, taxaMaxima));
  exibidos = 0;
  if (estabelecida && conexao) {
    conexao->enviar(Mensagens::Exibicao{taxa}.empacotar());
  }
}

}  // namespace orbelo
