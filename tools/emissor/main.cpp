// orbelo-emissor: a sender for orbelo, for tests, demos and Linux laptops.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "Anuncio.hpp"
#include "Cursor.hpp"
#include "Emissor.hpp"
#include "Fonte.hpp"
#include "Opcoes.hpp"
#include "Servidor.hpp"
#include "Sessao.hpp"
#include "protocolo/Pareamento.hpp"
#include "protocolo/Saida.hpp"

using namespace orbelo;
using namespace orbelo::emissor;

namespace {

constexpr int saidaErroOpcoes = 2;

std::string nomeServico() {
  char maquina[256] = {};
  gethostname(maquina, sizeof maquina - 1);
  // DNS-SD service names stop at 63 bytes.
  return "orbelo-emissor em " + std::string(maquina).substr(0, 40);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  // A receiver that vanishes mid-write must give an error, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  // Standard error stays silent; FFmpeg's failures come back as values and become our lines.
  av_log_set_level(AV_LOG_QUIET);

  std::vector<std::string_view> argumentos(argv + 1, argv + argc);
  auto leitura = lerOpcoes(argumentos);
  if (std::holds_alternative<PedidoAjuda>(leitura)) {
    imprimirLinha(textoUso);
    return 0;
  }
  if (auto* erro = std::get_if<ErroOpcoes>(&leitura)) {
    imprimirLinha(erro->texto);
    imprimirLinha(textoUso);
    return saidaErroOpcoes;
  }
  const auto& opcoes = std::get<OpcoesEmissor>(leitura);

  auto fonte = abrirFonte(opcoes);
  if (auto* erro = std::get_if<std::string>(&fonte)) {
    imprimirLinha(*erro);
    return 1;
  }
  auto seta = Cursor::desenharSeta();
  if (!seta) {
    imprimirLinha("Codificador PNG indisponível.");
    return 1;
  }

  std::string codigo = opcoes.codigo.value_or(Pareamento::gerarCodigo());
  auto servidor = Servidor::abrir(opcoes.escutar, opcoes.porta, Pareamento::derivarChave(codigo));
  if (auto* erro = std::get_if<std::string>(&servidor)) {
    imprimirLinha(*erro);
    return 1;
  }
  auto& escuta = *std::get<std::unique_ptr<Servidor>>(servidor);
  if (!opcoes.codigo) {
    imprimirLinha("Código de pareamento: " + codigo);
  }
  imprimirLinha("Ouvindo em " + escuta.enderecoLocal());

  std::optional<Anuncio> anuncio;
  if (opcoes.anunciar) {
    anuncio.emplace(nomeServico(), opcoes.escutar, escuta.porta());
  }

  Sessao sessao;
  std::jthread aceitacao([&] {
    while (!escuta.fechado()) {
      if (auto conexao = escuta.aceitar()) {
        sessao.substituir(std::move(conexao));
      }
    }
  });

  Emissor emissor(*std::get<std::unique_ptr<FonteVideo>>(fonte), sessao, std::move(*seta), opcoes.falha);
  imprimirLinha(emissor.executar());
  escuta.fechar();
  return 1;
}
