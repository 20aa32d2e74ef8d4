// What the user sees and does on orbelo's window: the pairing panel typed into with
// xdotool, the notice and its button, the remote pointer over the video, and the pairing
// remembered between runs. Real senders on loopback; the screen read back with import.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "e2e/Caso.hpp"

namespace orbelo::teste {
namespace {

namespace fs = std::filesystem;

// A TCP listener that accepts and never answers: a sender stuck before the handshake.
class OuvinteMudo {
 public:
  OuvinteMudo() {
    sockaddr_in endereco{};
    endereco.sin_family = AF_INET;
    endereco.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t tamanho = sizeof endereco;
    if (bind(escuta, reinterpret_cast<sockaddr*>(&endereco), tamanho) != 0 || listen(escuta, 4) != 0 ||
        getsockname(escuta, reinterpret_cast<sockaddr*>(&endereco), &tamanho) != 0)
      throw std::runtime_error("listen");
    porta = ntohs(endereco.sin_port);
  }
  ~OuvinteMudo() {
    close(par);
    close(escuta);
  }
  // Another peer knocked within `espera`.
  bool chamado(std::chrono::milliseconds espera) { return pronto(escuta, espera); }
  // Takes the peer and waits for the first bytes it sends.
  bool aceitar() {
    par = chamado(30s) ? accept4(escuta, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    char bloco[4096];
    return pronto(par, 30s) && recv(par, bloco, sizeof bloco, 0) > 0;
  }
  // The accepted peer closed its end within `espera`.
  bool pareFechou(std::chrono::milliseconds espera) {
    const auto limite = std::chrono::steady_clock::now() + espera;
    char bloco[4096];
    while (pronto(par, std::chrono::duration_cast<std::chrono::milliseconds>(
                           limite - std::chrono::steady_clock::now()))) {
      if (recv(par, bloco, sizeof bloco, 0) <= 0) return true;
    }
    return false;
  }

  std::uint16_t porta = 0;

 private:
  static bool pronto(int fd, std::chrono::milliseconds espera) {
    pollfd p{fd, POLLIN, 0};
    return fd >= 0 && poll(&p, 1, static_cast<int>(espera.count())) > 0;
  }
  int escuta = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int par = -1;
};

class InterfaceE2E : public CasoE2E {
 protected:
  // With no window manager the keyboard follows the mouse: it rests inside the window,
  // away from any button.
  static bool digitar(const std::string& texto) {
    return xdotool("mousemove 330 190") && (texto.empty() || xdotool("type --delay 40 '" + texto + "'")) &&
           xdotool("key Return");
  }
};

TEST_F(InterfaceE2E, AFirstStartAsksForTheCodeAWrongOneIsRefusedOnceAndTheRightOneConnectsAndIsRemembered) {
  Emissor emissor({"--tamanho", "1600x600", "--fps", "10"});
  const auto porta = std::to_string(emissor.porta());
  const Caixa video{320, 300, 1280, 480};
  {
    Orbelo orbelo(configuracao.caminho(), {"--janela", "--host", "127.0.0.1", "--porta", porta});
    ASSERT_EQ(esperarTela("painel", painel(false, CampoCodigo::vazio)), "");

    ASSERT_TRUE(digitar("111 111"));
    const auto recusa = orbelo.esperarLinha("O MacBook recusou o código ");
    ASSERT_TRUE(recusa);
    const auto recusado = std::chrono::steady_clock::now();
    EXPECT_TRUE(recusa->starts_with("O MacBook recusou o código 111111 (") && recusa->ends_with(")."))
        << *recusa;
    EXPECT_TRUE(emissor.esperarLinha("Falha de TLS com "));
    EXPECT_EQ(esperarTela("painel-recusado", painel(true, CampoCodigo::vazio)), "");
    // A retry would come within a wired attempt and a second of the refusal.
    const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(
        recusado + 5s - std::chrono::steady_clock::now());
    EXPECT_EQ(emissor.esperarLinha("", resta), std::nullopt) << "the sender saw another attempt";

    ASSERT_TRUE(digitar("123 456"));
    ASSERT_TRUE(orbelo.esperarLinha("Conectado a "));
    EXPECT_EQ(esperarTela("padrao-apos-painel", padraoDoEmissor(video)), "");
    const auto lidas =
        esperarPreferencias([](const auto& p) { return p.value("codigo", "") == codigoTeste; });
    EXPECT_EQ(lidas.value("codigo", ""), codigoTeste);
    EXPECT_EQ(lidas.value("host", ""), "127.0.0.1");
    EXPECT_EQ(fs::status(preferencias()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << "the code is readable by its owner alone";
  }

  Orbelo denovo(configuracao.caminho(), {"--janela", "--porta", porta});
  const auto conectado = denovo.esperarLinha("Conectado a ");
  ASSERT_TRUE(conectado);
  EXPECT_TRUE(conectado->starts_with("Conectado a 127.0.0.1:" + porta + " ")) << *conectado;
  EXPECT_EQ(esperarTela("padrao-lembrado", padraoDoEmissor(video)), "");
}

TEST_F(InterfaceE2E, ARememberedCodeTheSenderRefusesIsForgottenButItsAddressIsKept) {
  Emissor emissor({"--tamanho", "640x360", "--fps", "10"});
  fs::create_directories(preferencias().parent_path());
  std::ofstream(preferencias()) << R"({"codigo": "111111", "host": "127.0.0.1"})";
  Orbelo orbelo(configuracao.caminho(), {"--janela", "--porta", std::to_string(emissor.porta())});

  const auto recusa = orbelo.esperarLinha("O MacBook recusou o código ");
  ASSERT_TRUE(recusa);
  EXPECT_TRUE(recusa->starts_with("O MacBook recusou o código 111111 (")) << *recusa;
  EXPECT_EQ(esperarTela("painel-lembrado-recusado", painel(true, CampoCodigo::vazio)), "");
  const auto lidas = esperarPreferencias([](const auto& p) { return !p.contains("codigo"); });
  EXPECT_FALSE(lidas.contains("codigo")) << "the next start asks instead of failing again";
  EXPECT_EQ(lidas.value("host", ""), "127.0.0.1");
}

TEST_F(InterfaceE2E, TheNoticeButtonStopsTheConnectionAndOpensThePanelWithTheCodeAndAddressInUse) {
  OuvinteMudo emissorMudo;
  Orbelo orbelo(configuracao.caminho(), discar(emissorMudo.porta));
  ASSERT_TRUE(emissorMudo.aceitar()) << "the receiver dials";

  std::optional<std::pair<int, int>> botao;
  ASSERT_EQ(esperarTela("aviso-conectando",
                        [&](const Captura& tela) {
                          botao = centroBotaoAviso(tela);
                          return botao ? "" : "no notice button";
                        }),
            "");
  ASSERT_TRUE(xdotool("mousemove " + std::to_string(botao->first) + " " + std::to_string(botao->second) +
                      " click 1 mousemove 330 190"));
  EXPECT_TRUE(emissorMudo.pareFechou(10s)) << "the receiver leaves the sender";
  EXPECT_EQ(esperarTela("painel-pelo-aviso", painel(false, CampoCodigo::preenchido)), "");
  EXPECT_FALSE(emissorMudo.chamado(5s)) << "stopped: no attempt follows";

  // Confirming the fields as they came dials the same sender again.
  ASSERT_TRUE(digitar(""));
  EXPECT_TRUE(emissorMudo.chamado(30s));
}

TEST_F(InterfaceE2E, ThePointerIsDrawnWhereAndAsLargeAsTheSenderSaysAndGoesAwayWhileANoticeShows) {
  PastaTemporaria pasta;
  const auto fluxo = quadrantes(pasta, 1);
  ffmpeg("-f lavfi -i color=c=0xFF00FF:s=16x16 -frames:v 1 -pix_fmt rgb24 '" +
         (pasta / "cursor.png").string() + "'");
  const auto servidor = servidorPsk();
  Orbelo orbelo(configuracao.caminho(), discar(servidor->porta()));
  auto sessao = std::make_unique<SessaoPsk>(*servidor);
  ASSERT_TRUE(sessao->aberta());
  ASSERT_TRUE(orbelo.esperarLinha("Conectado a "));

  // The video fills (480, 180, 960 x 720); the pointer is 5% by 10% of it, 48 x 72, with
  // its hot spot a quarter across and three quarters down the image.
  const Caixa video{480, 180, 960, 720};
  sessao->enviar(Mensagens::config({640, 480}));
  sessao->enviar(*Mensagens::parametros(fluxo.parametros));
  sessao->enviar(Mensagens::imagemCursor({0.05F, 0.1F, 0.25F, 0.75F}, lerArquivo(pasta / "cursor.png")));
  sessao->enviar(Mensagens::cursor(0.25F, 0.5F, true));
  EXPECT_EQ(orbelo.esperarLinha("Emissor em "), "Emissor em 640x480.");
  EXPECT_EQ(esperarTela("cursor-esperando-imagem", soAviso()), "")
      << "the pointer waits while the notice shows";

  // The first picture clears the notice, and the pointer appears where it was put.
  sessao->enviar(Mensagens::quadro(fluxo.quadros[0]));
  EXPECT_EQ(esperarTela("cursor", cursorEm({708, 486, 48, 72}, video)), "") << "hot spot at (720, 540)";
  sessao->enviar(Mensagens::cursor(0.75F, 0.25F, true));
  EXPECT_EQ(esperarTela("cursor-movido", cursorEm({1188, 306, 48, 72}, video)), "")
      << "hot spot at (1200, 360)";

  sessao.reset();
  EXPECT_TRUE(orbelo.esperarLinha("Conexão encerrada"));
  EXPECT_EQ(esperarTela("cursor-com-aviso", soAviso()), "");
}

}  // namespace
}  // namespace orbelo::teste
