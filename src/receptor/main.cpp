#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "OpcoesReceptor.hpp"
#include "Receptor.hpp"
#include "protocolo/Saida.hpp"
#include "receptor/plataforma/janela/CursorLocalSdl.hpp"
#include "receptor/plataforma/janela/DecodificadorImagemArquivo.hpp"
#include "receptor/plataforma/janela/ExecutorPrincipal.hpp"
#include "receptor/plataforma/janela/JanelaSdl.hpp"
#include "receptor/plataforma/rede/FilaAsio.hpp"
#include "receptor/plataforma/rede/TransporteAsio.hpp"
#include "receptor/plataforma/sistema/InicioAutomaticoXdg.hpp"
#include "receptor/plataforma/sistema/InstanciaUnica.hpp"
#include "receptor/plataforma/sistema/PreferenciasArquivo.hpp"
#include "receptor/plataforma/video/CamadaVideoGl.hpp"
#include "receptor/plataforma/video/DecodificadorH264.hpp"
#include "receptor/plataforma/video/MedicaoQuadros.hpp"

int main(int argc, char** argv) {
  using namespace orbelo;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  const std::vector<std::string_view> argumentos(argv, argv + argc);
  const auto lido = OpcoesReceptor::ler(argumentos);
  if (const auto* saida = std::get_if<SaidaAntecipada>(&lido)) {
    imprimirLinha(saida->texto);
    return saida->status;
  }
  const auto& opcoes = std::get<OpcoesReceptor>(lido);

  // Taken before any window, so that a second start never flashes one.
  auto instancia = InstanciaUnica::tomar(InstanciaUnica::pastaExecucao());
  if (!instancia) {
    imprimirLinha("O orbelo já está aberto.");
    return 0;
  }

  // The worker threads' queues come first and so go last: what the main queue's tasks
  // hold when it goes (the receiver, the single-instance listener) is bound to them.
  FilaAsio fila;
  FilaAsio decodificacao;
  ExecutorPrincipal principal;
  EstadoTela tela;
  // The window calls back only from its loop, which starts once the receiver exists.
  std::shared_ptr<Receptor> receptor;
  AcoesJanela acoes{
      .abrirPareamento = [&receptor] { receptor->abrirPareamento(); },
      .confirmarPareamento = [&receptor] { receptor->confirmarPareamento(); },
      .redimensionar = [&receptor](int largura, int altura) { receptor->redimensionar(largura, altura); },
      .mudouDeMonitor = [&receptor](TamanhoTela monitor) { receptor->mudouDeMonitor(monitor); },
      .alternarEstatisticas = [&receptor] { receptor->alternarEstatisticas(); },
  };
  std::string erro;
  auto janela = JanelaSdl::abrir(opcoes.janela, tela, principal, std::move(acoes), erro);
  if (!janela) {
    imprimirLinha("Não consegui abrir a janela: " + erro);
    return 1;
  }
  // Made and destroyed while the window's OpenGL context is current.
  CamadaVideoGl camada(principal);
  janela->mostrarVideo(camada);

  instancia->atender(fila.contexto(), principal, [&janela] { janela->trazerParaFrente(); });
  TransporteAsio transporte(fila);
  PreferenciasArquivo preferencias;
  InicioAutomaticoXdg inicioAutomatico;
  CursorLocalSdl cursorLocal;
  DecodificadorImagemArquivo imagens;
  receptor = Receptor::criar(opcoes, DependenciasReceptor{
                                         .fila = fila,
                                         .principal = principal,
                                         .decodificacao = decodificacao,
                                         .transporte = transporte,
                                         .camada = camada,
                                         .formatoUtilizavel = DecodificadorH264::utilizavel,
                                         .imagens = imagens,
                                         .preferencias = preferencias,
                                         .inicioAutomatico = inicioAutomatico,
                                         .cursorLocal = cursorLocal,
                                         .tela = tela,
                                         .imprimir = {},
                                         .relogio = {},
                                     });
  receptor->lancar(janela->telaDoMonitor());
  janela->rodar();

  // The end, in order. The receiver lets its connection and its browser (and so Avahi's
  // thread) go on its own thread; each worker thread then finishes the task it is in (a
  // preferences save completes) and stops, and the objects above are destroyed in reverse,
  // with no thread left that could use them and nothing left to run on the main queue.
  receptor->encerrar();
  fila.parar();
  decodificacao.parar();
  if (auto* medicao = MedicaoQuadros::doProcesso()) {
    medicao->gravar();
  }
  return 0;
}
