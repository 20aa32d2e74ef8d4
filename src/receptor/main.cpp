#include <cstdio>
#include <cstdlib>
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
#include "receptor/plataforma/janela/FilaPrincipal.hpp"
#include "receptor/plataforma/janela/JanelaSdl.hpp"
#include "receptor/plataforma/rede/FilaAsio.hpp"
#include "receptor/plataforma/rede/TransporteAsio.hpp"
#include "receptor/plataforma/sistema/InicioAutomaticoXdg.hpp"
#include "receptor/plataforma/sistema/InstanciaUnica.hpp"
#include "receptor/plataforma/sistema/PreferenciasArquivo.hpp"
#include "receptor/plataforma/video/DecodificadorH264.hpp"
#include "receptor/plataforma/video/DecodificadorVideo.hpp"
#include "receptor/plataforma/video/DesenhoVideo.hpp"
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

  FilaPrincipal principal;
  EstadoTela tela;
  // The window calls back only from its loop, which starts once the receiver exists.
  std::shared_ptr<Receptor> receptor;
  AcoesJanela acoes{
      .abrirPareamento = [&receptor] { receptor->abrirPareamento(); },
      .confirmarPareamento = [&receptor] { receptor->confirmarPareamento(); },
      .redimensionar = [&receptor](int largura, int altura) { receptor->redimensionar(largura, altura); },
  };
  std::string erro;
  auto janela = JanelaSdl::abrir(opcoes.janela, tela, principal, std::move(acoes), erro);
  if (!janela) {
    imprimirLinha("Não consegui abrir a janela: " + erro);
    return 1;
  }

  // A new picture, or the picture gone, only has to reach the loop, which then draws.
  DecodificadorVideo decodificador(
      [&principal, &janela] { principal.executar([&janela] { janela->pedirDesenho(); }); });
  DesenhoVideo desenho(decodificador);
  janela->aoDesenharVideo([&desenho](int largura, int altura) { desenho.desenhar(largura, altura); });
  janela->aoApresentar([&desenho] { desenho.apresentado(); });
  janela->aoPerguntarImagemACaminho([&decodificador] { return decodificador.imagemACaminho(); });

  FilaAsio fila;
  instancia->atender(fila.contexto(), principal, [&janela] { janela->trazerParaFrente(); });
  FilaAsio decodificacao;
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
                                         .camada = decodificador,
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

  if (auto* medicao = MedicaoQuadros::doProcesso()) {
    medicao->gravar();
  }
  // Ending is immediate, as the desktop's own quit is: the network thread may be inside
  // a callback that holds the receiver, and nothing is left to save.
  std::fflush(stdout);
  std::_Exit(0);
}
