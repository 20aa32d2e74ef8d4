#include <algorithm>
#include <chrono>
#include <cmath>

#include "Estatisticas.hpp"
#include "Lembranca.hpp"
#include "Receptor.hpp"
#include "protocolo/Pareamento.hpp"

namespace orbelo {
namespace {

// Twice a second: figures that change faster cannot be read.
constexpr std::chrono::milliseconds intervaloEstatisticas{500};

}  // namespace

void Receptor::alternarEstatisticas() {
  afirmarNoPrincipal();
  mostrarEstatisticas(!tela.estatisticasVisiveis);
  preferencias.gravarBooleano(Lembranca::preferenciaEstatisticas, tela.estatisticasVisiveis);
}

void Receptor::mostrarEstatisticas(bool visiveis) {
  afirmarNoPrincipal();
  tela.estatisticasVisiveis = visiveis;
  camada.medirAoVivo(visiveis);
  tela.textoEstatisticas = visiveis ? textoEstatisticas({}) : std::string();
  fila.executar([eu = shared_from_this(), visiveis] {
    const auto geracao = ++eu->geracaoEstatisticas;
    eu->quadrosRecentes = 0;
    eu->bytesRecentes = 0;
    if (visiveis) {
      eu->agendarEstatisticas(geracao);
    }
  });
}

void Receptor::medirEstatisticas(std::uint64_t geracao) {
  afirmarNaFila();
  if (geracao != geracaoEstatisticas || parado) {
    return;
  }
  const double segundos = std::chrono::duration<double>(intervaloEstatisticas).count();
  Estatisticas estatisticas;
  estatisticas.recebidosPorSegundo = static_cast<double>(quadrosRecentes) / segundos;
  estatisticas.megabitsPorSegundo = static_cast<double>(bytesRecentes) * 8 / segundos / 1e6;
  estatisticas.reconexoes = std::max<std::int64_t>(conexoesProntas - 1, 0);
  quadrosRecentes = 0;
  bytesRecentes = 0;
  if (conexao && estabelecida) {
    estatisticas.interfaceRede = conexao->nomeInterface();
    estatisticas.suite = Pareamento::suiteNegociada(conexao->suiteNegociada());
    estatisticas.emissor = conexao->endpoint();
  }
  principal.executar([eu = shared_from_this(), estatisticas]() mutable {
    if (!eu->tela.estatisticasVisiveis) {
      return;
    }
    estatisticas.video = eu->camada.resumo();
    if (eu->tamanhoVideo) {
      estatisticas.tamanhoImagem = std::to_string(std::lround(eu->tamanhoVideo->largura)) + "x" +
                                   std::to_string(std::lround(eu->tamanhoVideo->altura));
    }
    eu->tela.textoEstatisticas = textoEstatisticas(estatisticas);
  });
  agendarEstatisticas(geracao);
}

void Receptor::agendarEstatisticas(std::uint64_t geracao) {
  fila.executarDepois(intervaloEstatisticas, [fraco = weak_from_this(), geracao] {
    if (auto eu = fraco.lock()) {
      eu->medirEstatisticas(geracao);
    }
  });
}

}  // namespace orbelo
