#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>

#include "apoio/Apoio.hpp"
#include "receptor/OpcoesReceptor.hpp"

namespace orbelo {
namespace {

const std::string portaInvalida = "Porta inválida";
const std::string telaInvalida = "Use --tela 1920x1080";
const std::string codigoCurto = "O código precisa ter pelo menos 6 caracteres.";
const std::string& ajuda = OpcoesReceptor::ajuda();

using Argumentos = std::vector<std::string_view>;

// "host porta [janela] codigo tela" as read, or "text|status" of an early end.
std::string desfecho(const std::variant<OpcoesReceptor, SaidaAntecipada>& lido) {
  if (const auto* saida = std::get_if<SaidaAntecipada>(&lido)) {
    return saida->texto + "|" + std::to_string(saida->status);
  }
  const auto& o = std::get<OpcoesReceptor>(lido);
  return o.host.value_or("-") + " " + std::to_string(o.porta) + (o.janela ? " janela " : " ") +
         o.codigo.value_or("-") + " " +
         (o.tela ? std::to_string(o.tela->largura) + "x" + std::to_string(o.tela->altura) : "-");
}
std::string desfecho(Argumentos argumentos) {
  argumentos.insert(argumentos.begin(), "/usr/bin/orbelo");
  return desfecho(OpcoesReceptor::ler(argumentos));
}

// Arguments are read strictly and left to right: later values win, and the first early end wins.
TEST(OpcoesReceptor, ValuesAreReadStrictlyLeftToRightAndTheFirstEndWins) {
  EXPECT_EQ(desfecho(OpcoesReceptor::ler({})), "- 7420 - -");
  for (const auto& [argumentos, esperado] : std::vector<std::pair<Argumentos, std::string>>{
           {{}, "- 7420 - -"},
           {{"--porta", "65535"}, "- 65535 - -"},
           {{"--porta", "+80"}, "- 80 - -"},
           {{"--porta", "-0"}, "- 0 - -"},
           {{"--porta", "1", "--porta", "0008080"}, "- 8080 - -"},
           {{"--tela", "1920x1080"}, "- 7420 - 1920x1080"},
           {{"--tela", "x+1920xx1080xpx"}, "- 7420 - 1920x1080"},
           {{"--tela", "4294967295x0"}, "- 7420 - 4294967295x0"},
           // A piece too long for any integer is no number, passed over like text.
           {{"--tela", "99999999999999999999x1920x1080"}, "- 7420 - 1920x1080"},
           {{"--codigo", "12-34 56"}, "- 7420 123456 -"},
           {{"--codigo", "111111", "--codigo", "abcdefgh"}, "- 7420 abcdefgh -"},
           {{"--host", "10.0.0.2", "--host"}, "- 7420 - -"},
           {{"-psn_0_1234", "--host", "--janela"}, "--janela 7420 - -"},
           {{"--janela"}, "- 7420 janela - -"},
           {{"--porta"}, portaInvalida + "|1"},
           {{"--janela", "--tela"}, telaInvalida + "|1"},
           {{"--codigo", "1 2-3 4-5"}, codigoCurto + "|1"},
           {{"--codigo"}, codigoCurto + "|1"},
           {{"--janela", "--help"}, ajuda + "|0"},
           {{"-h", "--porta", "x"}, ajuda + "|0"},
           {{"--ajuda"}, ajuda + "|0"},
           {{"--porta", "x", "--help"}, portaInvalida + "|1"},
           {{"-x", "--help"}, "Opção desconhecida: -x\n\n" + ajuda + "|1"},
           {{"--JANELA"}, "Opção desconhecida: --JANELA\n\n" + ajuda + "|1"},
       }) {
    EXPECT_EQ(desfecho(argumentos), esperado);
  }
  for (std::string_view porta : {"65536", "80a", "", "-1", " 80", "+", "99999999999999999999999", "٨٠"}) {
    EXPECT_EQ(desfecho({"--porta", porta}), portaInvalida + "|1") << porta;
  }
  for (std::string_view valor : {"1920X1080", "1x2x3", "1920", "", "axb", "-1920x1080", "1920x4294967296"}) {
    EXPECT_EQ(desfecho({"--tela", valor}), telaInvalida + "|1") << valor;
  }
}

// Every early end, help or refusal, is one message on standard output with its status. Without a display
// the window cannot open: one line with SDL's reason, and status 1.
TEST(ProgramaOrbelo, PrintsEachEarlyEndAsOneMessageOnStandardOutput) {
  const teste::PastaTemporaria pasta;
  const auto saida = pasta / "saida", erros = pasta / "erros";
  for (const auto& [argumentos, texto, status] : std::vector<std::tuple<std::string, std::string, int>>{
           {"--janela --help", ajuda, 0},
           {"-x", "Opção desconhecida: -x\n\n" + ajuda, 1},
           {"--janela", "Não consegui abrir a janela: ", 1},
       }) {
    const std::string comando =
        "env -u DISPLAY -u WAYLAND_DISPLAY XDG_RUNTIME_DIR=" + pasta.caminho().string() +
        " XDG_CONFIG_HOME=" + pasta.caminho().string() + " " ORBELO_BINARIO " " + argumentos + " >" +
        saida.string() + " 2>" + erros.string();
    const int estado = std::system(comando.c_str());
    // The text, or for the window the start of SDL's reason, as that many lines and nothing more.
    const auto impresso = teste::conteudo(saida);
    EXPECT_EQ(impresso.substr(0, texto.size()), texto);
    EXPECT_TRUE(impresso.ends_with('\n') &&
                std::ranges::count(impresso, '\n') == std::ranges::count(texto, '\n') + 1)
        << impresso;
    EXPECT_EQ(teste::conteudo(erros), "");
    EXPECT_EQ(WIFEXITED(estado) ? WEXITSTATUS(estado) : -1, status) << impresso;
  }
}

}  // namespace
}  // namespace orbelo
