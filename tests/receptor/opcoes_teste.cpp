#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "apoio/Apoio.hpp"
#include "receptor/OpcoesReceptor.hpp"

namespace orbelo {
namespace {

const std::string portaInvalida = "Porta inválida";
const std::string telaInvalida = "Use --tela 1920x1080";
const std::string codigoCurto = "O código precisa ter pelo menos 6 caracteres.";

using Argumentos = std::vector<std::string_view>;

std::variant<OpcoesReceptor, SaidaAntecipada> ler(Argumentos argumentos) {
  argumentos.insert(argumentos.begin(), "/usr/bin/orbelo");
  return OpcoesReceptor::ler(argumentos);
}

OpcoesReceptor aceito(const Argumentos& argumentos) {
  auto lido = ler(argumentos);
  const auto* opcoes = std::get_if<OpcoesReceptor>(&lido);
  EXPECT_TRUE(opcoes) << "refused with: " << std::get<SaidaAntecipada>(lido).texto;
  return opcoes ? *opcoes : OpcoesReceptor{};
}

// "text|status" of an early end, "aceito" when parsing went through.
std::string desfecho(const Argumentos& argumentos) {
  const auto lido = ler(argumentos);
  const auto* saida = std::get_if<SaidaAntecipada>(&lido);
  return saida ? saida->texto + "|" + std::to_string(saida->status) : "aceito";
}

std::string ajuda() {
  return std::get<SaidaAntecipada>(ler({"--help"})).texto;
}

std::string tela(const OpcoesReceptor& opcoes) {
  return opcoes.tela ? std::to_string(opcoes.tela->largura) + "x" + std::to_string(opcoes.tela->altura) : "-";
}

TEST(OpcoesReceptor, WithoutArgumentsEverythingHasItsDefault) {
  for (const auto& opcoes : {aceito({}), std::get<OpcoesReceptor>(OpcoesReceptor::ler({}))}) {
    EXPECT_EQ(opcoes.host, std::nullopt);
    EXPECT_EQ(opcoes.porta, 7420);
    EXPECT_FALSE(opcoes.janela);
    EXPECT_EQ(opcoes.codigo, std::nullopt);
    EXPECT_EQ(tela(opcoes), "-");
  }
}

TEST(OpcoesReceptor, ValuesAreReadStrictlyAndLaterOptionsWin) {
  EXPECT_EQ(aceito({"--porta", "65535"}).porta, 65535);
  EXPECT_EQ(aceito({"--porta", "+80"}).porta, 80);
  EXPECT_EQ(aceito({"--porta", "-0"}).porta, 0);
  EXPECT_EQ(aceito({"--porta", "1", "--porta", "0008080"}).porta, 8080);
  EXPECT_EQ(tela(aceito({"--tela", "1920x1080"})), "1920x1080");
  EXPECT_EQ(tela(aceito({"--tela", "ax1920x1080"})), "1920x1080");
  EXPECT_EQ(tela(aceito({"--tela", "x+1920xx1080xpx"})), "1920x1080");
  EXPECT_EQ(tela(aceito({"--tela", "4294967295x0"})), "4294967295x0");
  // A piece too long for any integer is no number, passed over like text.
  EXPECT_EQ(tela(aceito({"--tela", "99999999999999999999x1920x1080"})), "1920x1080");
  EXPECT_EQ(aceito({"--codigo", "12-34 56"}).codigo, "123456");
  EXPECT_EQ(aceito({"--codigo", "111111", "--codigo", "abcdefgh"}).codigo, "abcdefgh");
  EXPECT_EQ(aceito({"--host", "10.0.0.2", "--host"}).host, std::nullopt);

  const auto opcoes = aceito({"-psn_0_1234", "--host", "--janela"});
  EXPECT_EQ(opcoes.host, "--janela");
  EXPECT_FALSE(opcoes.janela);
  EXPECT_TRUE(aceito({"--janela"}).janela);
}

TEST(OpcoesReceptor, BadValuesEndWithTheirMessageAndStatusOne) {
  for (std::string_view porta : {"65536", "80a", "", "-1", " 80", "+", "99999999999999999999999", "٨٠"}) {
    EXPECT_EQ(desfecho({"--porta", porta}), portaInvalida + "|1") << porta;
  }
  EXPECT_EQ(desfecho({"--porta"}), portaInvalida + "|1");
  for (std::string_view valor : {"1920X1080", "1x2x3", "1920", "", "axb", "-1920x1080", "1920x4294967296"}) {
    EXPECT_EQ(desfecho({"--tela", valor}), telaInvalida + "|1") << valor;
  }
  EXPECT_EQ(desfecho({"--janela", "--tela"}), telaInvalida + "|1");
  EXPECT_EQ(desfecho({"--codigo", "1 2-3 4-5"}), codigoCurto + "|1");
  EXPECT_EQ(desfecho({"--codigo"}), codigoCurto + "|1");
}

TEST(OpcoesReceptor, ArgumentsAreHandledLeftToRightSoTheFirstEndWins) {
  EXPECT_TRUE(ajuda().starts_with("Uso: orbelo [opções]\n") && ajuda().ends_with("\n\nEsc fecha."))
      << ajuda();
  for (const char* opcao : {"--codigo XXXXXX ", "--host IP ", "--porta N ", "--janela ", "--tela LxA "}) {
    EXPECT_NE(ajuda().find(std::string("\n  ") + opcao), std::string::npos) << opcao;
  }
  EXPECT_EQ(desfecho({"--janela", "--help"}), ajuda() + "|0");
  EXPECT_EQ(desfecho({"-h", "--porta", "x"}), ajuda() + "|0");
  EXPECT_EQ(desfecho({"--ajuda"}), ajuda() + "|0");
  EXPECT_EQ(desfecho({"--porta", "x", "--help"}), portaInvalida + "|1");
  EXPECT_EQ(desfecho({"-x", "--help"}), "Opção desconhecida: -x\n\n" + ajuda() + "|1");
  EXPECT_EQ(desfecho({"--JANELA"}), "Opção desconhecida: --JANELA\n\n" + ajuda() + "|1");
}

// Without a display the window cannot open: one line with SDL's reason, and status 1.
TEST(ProgramaOrbelo, PrintsEachEarlyEndAsOneMessageOnStandardOutput) {
  const std::string semTela = "Não consegui abrir a janela: ";
  const std::vector<std::tuple<std::vector<std::string>, std::string, int>> casos = {
      {{"--janela", "--help"}, ajuda(), 0},      {{"-x"}, "Opção desconhecida: -x\n\n" + ajuda(), 1},
      {{"--porta", "65536"}, portaInvalida, 1},  {{"--tela", "1920X1080"}, telaInvalida, 1},
      {{"--codigo", "12 34-5"}, codigoCurto, 1}, {{"--janela"}, semTela, 1},
  };
  const teste::PastaTemporaria pasta;
  const auto saida = pasta / "saida", erros = pasta / "erros";
  for (const auto& [argumentos, texto, status] : casos) {
    std::string comando = "env -u DISPLAY -u WAYLAND_DISPLAY XDG_RUNTIME_DIR=" + pasta.caminho().string() +
                          " XDG_CONFIG_HOME=" + pasta.caminho().string() + " " ORBELO_BINARIO;
    for (const auto& argumento : argumentos) {
      comando += " '" + argumento + "'";
    }
    const int estado = std::system((comando + " >" + saida.string() + " 2>" + erros.string()).c_str());
    const auto impresso = teste::conteudo(saida);
    if (texto == semTela) {
      EXPECT_TRUE(impresso.starts_with(semTela) && impresso.find('\n') == impresso.size() - 1) << impresso;
    } else {
      EXPECT_EQ(impresso, texto + "\n");
    }
    EXPECT_EQ(teste::conteudo(erros), "");
    EXPECT_EQ(WIFEXITED(estado) ? WEXITSTATUS(estado) : -1, status) << impresso;
  }
}

}  // namespace
}  // namespace orbelo
