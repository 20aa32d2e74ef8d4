#include "Lembranca.hpp"
#include "Receptor.hpp"
#include "protocolo/Pareamento.hpp"

namespace orbelo {

void Receptor::lancar(std::optional<TamanhoTela> telaDoMonitor) {
  afirmarNoPrincipal();
  tela.opcaoInicioOculta = !inicioAutomatico.instalado();
  // Rewriting an existing entry keeps it pointing at wherever the program now lives.
  if (inicioAutomatico.existe()) {
    inicioAutomatico.ligar();
  }
  iniciarAvisoDeExibicao();
  if (preferencias.booleano(Lembranca::preferenciaEstatisticas)) {
    mostrarEstatisticas(true);
  }

  // A window is not the screen: only the full-screen mode announces the monitor's size.
  std::optional<TamanhoTela> anunciada = opcoes.tela;
  if (!anunciada && !opcoes.janela) {
    anunciada = telaDoMonitor;
  }
  fila.executar([eu = shared_from_this(), anunciada] { eu->telaPixels = anunciada; });

  const std::optional<std::string> hostInicial =
      opcoes.host ? opcoes.host : preferencias.texto(Lembranca::preferenciaHost);
  if (opcoes.codigo) {
    fila.executar([eu = shared_from_this(), codigoDado = *opcoes.codigo, hostInicial] {
      eu->iniciar(codigoDado, hostInicial, false);
    });
    return;
  }
  if (const auto lembrado = preferencias.texto(Lembranca::preferenciaCodigo)) {
    if (auto normalizado = Pareamento::normalizar(*lembrado)) {
      fila.executar([eu = shared_from_this(), codigoLembrado = std::move(*normalizado), hostInicial] {
        eu->iniciar(codigoLembrado, hostInicial, true);
      });
      return;
    }
  }
  mostrarPareamento("", hostInicial, std::nullopt);
}

void Receptor::mudouDeMonitor(TamanhoTela monitor) {
  afirmarNoPrincipal();
  // A size given on the command line, or a window that is not the screen, stays as announced.
  if (opcoes.tela || opcoes.janela) {
    return;
  }
  fila.executar([eu = shared_from_this(), monitor] {
    if (eu->telaPixels == monitor) {
      return;
    }
    eu->telaPixels = monitor;
    // The sender learns it now, not only at the next connection.
    if (eu->conexao && eu->estabelecida) {
      eu->informarTela(*eu->conexao);
    }
  });
}

}  // namespace orbelo
