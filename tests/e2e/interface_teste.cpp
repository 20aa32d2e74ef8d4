// What the user does on orbelo's window: the pairing panel typed into with xdotool, the
// pairing remembered between runs, and starting it again.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <iostream>

#include "e2e/Caso.hpp"

namespace orbelo::teste {
namespace {

using testing::MatchesRegex, testing::Optional;

// The first line a command prints, such as the window number xdotool finds.
std::string saidaDe(const std::vector<std::string>& comando) {
  Processo processo(comando);
  return processo.esperarLinha("", 5s).value_or("");
}

using InterfaceE2E = CasoE2E;

// The first receiver of a session meets a refused code, takes the right one typed into the panel,
// and stays the only one: a second start brings it forward and ends, leaving its connection alone.
TEST_F(InterfaceE2E,
       ARefusedCodeIsForgottenTheTypedOneConnectsIsRememberedAndASecondStartOnlyBringsItForward) {
  Emissor emissor({"--tamanho", "1600x600", "--fps", "10"});
  const auto porta = std::to_string(emissor.porta());
  PastaTemporaria sessao;
  escrever(preferencias(), R"({"codigo": "111111", "host": "127.0.0.1"})");
  {
    Orbelo primeiro(configuracao.caminho(), {"--janela", "--porta", porta}, sessao.caminho());
    ASSERT_THAT(primeiro.esperarLinha("O MacBook recusou o código "),
                Optional(MatchesRegex("O MacBook recusou o código 111111 \\(.+\\)\\.")));
    EXPECT_EQ(esperarTela("painel-recusado", painel(true)), "");

    // With no window manager the keyboard follows the mouse: it rests inside the window,
    // away from any button.
    ASSERT_TRUE(xdotool("mousemove 330 190") && xdotool("type --delay 40 '123 456'") &&
                xdotool("key Return"));
    ASSERT_TRUE(primeiro.esperarLinha("Conectado a "));
    ASSERT_TRUE(emissor.esperarLinha("Receptor conectado: "));
    EXPECT_EQ(esperarTela("padrao-apos-painel", padraoDoEmissor({320, 300, 1280, 480})), "");

    const auto janela = saidaDe({"xdotool", "search", "--name", "^Velaro$"});
    ASSERT_NE(janela, "");
    const auto focada = [&] { return saidaDe({"xdotool", "getwindowfocus"}) == janela; };
    const auto comecarDeNovo = [&] {
      // Away from the window, so that the focus coming back tells it was brought forward.
      EXPECT_TRUE(xdotool("search --maxdepth 0 --name '' windowfocus"));
      const auto antes = std::chrono::steady_clock::now();
      Orbelo segundo(configuracao.caminho(), {"--janela"}, sessao.caminho());
      EXPECT_EQ(segundo.esperarFim(30s), 0);
      std::cout << "a second start ended after " << (std::chrono::steady_clock::now() - antes) / 1ms
                << " ms\n";
      segundo.esperarLinha("\x01", 1s);
      EXPECT_EQ(segundo.linhas(), std::vector<std::string>{"O orbelo já está aberto."});
    };

    comecarDeNovo();
    EXPECT_TRUE(esperar(focada, 10s)) << "the first window has the focus again";

    // Stopped, with its backlog full of junk, the first holds a second start for a few seconds at most.
    ASSERT_EQ(kill(primeiro.id(), SIGSTOP), 0);
    // Callers that are no orbelo: each sends junk to the socket a second start knocks on, and leaves.
    sockaddr_un endereco{AF_UNIX, {}};
    (sessao / "orbelo.soquete").string().copy(endereco.sun_path, sizeof endereco.sun_path - 1);
    for (int i = 0; i < 50; ++i) {
      const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      if (connect(fd, reinterpret_cast<sockaddr*>(&endereco), sizeof endereco) == 0) {
        send(fd, "\xff\0GET / HTTP/1.1\r\n", 19, MSG_NOSIGNAL);
      }
      close(fd);
    }
    Processo ajuda({ORBELO_BINARIO, "--ajuda"}, {"XDG_RUNTIME_DIR=" + sessao.caminho().string()});
    EXPECT_EQ(ajuda.esperarLinha("", 5s), "Uso: orbelo [opções]") << "options are read before the lock";
    comecarDeNovo();
    ASSERT_EQ(kill(primeiro.id(), SIGCONT), 0);
    EXPECT_TRUE(esperar(focada, 10s)) << "the junk only brings it forward";

    // Two receivers fighting redial within a second or two.
    EXPECT_EQ(emissor.esperarLinha("Receptor ", 3s), std::nullopt) << "the sender saw another receiver";
    EXPECT_EQ(primeiro.esperarLinha({"Conectado a ", "Conexão ", "Falha "}, 500ms), std::nullopt);
    ASSERT_EQ(kill(primeiro.id(), SIGKILL), 0);
    ASSERT_TRUE(primeiro.esperarFim());
  }
  Orbelo depois(configuracao.caminho(), {"--janela", "--porta", porta}, sessao.caminho());
  EXPECT_TRUE(depois.esperarLinha("Conectado a 127.0.0.1:" + porta + " "))
      << "the code is forgotten, or the killed receiver left its lock behind";
}

}  // namespace
}  // namespace orbelo::teste
