// orbelo as a user runs it against real senders on loopback: orbelo-emissor, a TLS peer in
// the test, and avahi-daemon for discovery. Checks what the user sees and the sender gets.
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "e2e/Caso.hpp"

namespace orbelo::teste {
namespace {

using testing::Contains, testing::MatchesRegex, testing::Not, testing::Optional, testing::StartsWith;

using Relogio = std::chrono::steady_clock;

bool ip(const std::string& argumentos) {
  return std::system(("ip " + argumentos + " >/dev/null 2>&1").c_str()) == 0;
}

// A veth pair between this namespace and one of its own that holds the sender's end, on a
// private /30 that only this run uses. Named after the test's process, so what a run that
// died left under the same number is removed first.
class Enlace {
 public:
  Enlace() {
    desfazer();
    pronto = geteuid() == 0 && ip("netns add " + ns) &&
             ip("link add " + local + " type veth peer name " + remota + " netns " + ns) &&
             ip("addr add " + endereco(1) + "/30 dev " + local) && ip("link set " + local + " up") &&
             // Should the link's own route go, its addresses must not fall to the default route.
             ip("route add unreachable " + endereco(0) + "/30 metric 1000") &&
             ip("-n " + ns + " addr add " + endereco(2) + "/30 dev " + remota) && ligar(true);
  }
  ~Enlace() { desfazer(); }

  // Down, the sender's end loses what was on its way: no FIN, no reset.
  bool ligar(bool ligado) { return ip("-n " + ns + " link set " + remota + (ligado ? " up" : " down")); }

  const std::string ns = "orbelo-e2e-" + std::to_string(getpid());
  const std::string local = "orb" + std::to_string(getpid());
  const std::string remota = local + "n";
  const std::string enderecoRemoto = endereco(2);
  bool pronto = false;

 private:
  // Address `n` of this run's /30 in 10.213.0.0/16.
  static std::string endereco(int n) {
    const auto base = static_cast<int>(getpid() % 16384) * 4 + n;
    return "10.213." + std::to_string(base / 256) + "." + std::to_string(base % 256);
  }
  void desfazer() {
    ip("netns del " + ns);
    ip("link del " + local);
    ip("route del unreachable " + endereco(0) + "/30 metric 1000");
  }
};

using ConexaoE2E = CasoE2E;

// Full screen, as a user starts it: the screen size announced, the picture pillarboxed in it,
// an undecodable frame got over, and Escape ends the program. A Wayland display that does not
// answer leaves X11, where it works as ever.
TEST_F(ConexaoE2E, WithoutAnAddressTheSenderIsFoundByDnsSdOnceTheCableGivesWayAndFoundAgainWhenItRestarts) {
  auto emissor = std::make_unique<Emissor>(
      std::vector<std::string>{"--tamanho", "800x800", "--fps", "10", "--falha-lixo", "15"}, true);
  ASSERT_TRUE(emissor->esperarLinha("Anunciado como "));
  Orbelo orbelo(configuracao.caminho(), {"--codigo", std::string(codigoTeste)}, std::nullopt,
                {"WAYLAND_DISPLAY=/nonexistent/wayland-0"});

  // Loopback is no cable: the first, wired-only search finds nothing.
  EXPECT_TRUE(orbelo.esperarLinha("O cabo não levou ao MacBook; tentando por qualquer rede."));
  EXPECT_TRUE(orbelo.esperarLinha("Conectado a 127.0.0.1:" + std::to_string(emissor->porta()) +
                                  " por lo, cifrado com "));
  EXPECT_EQ(emissor->esperarLinha("Tela do receptor: "), "Tela do receptor: 1920x1080, recursos 1");
  const Caixa video{420, 0, 1080, 1080};
  EXPECT_EQ(esperarTela("padrao-por-descoberta", padraoDoEmissor(video)), "");

  // The decoder says why, and the key frame it asks for sets the picture moving again.
  EXPECT_THAT(orbelo.esperarLinha("Erro de decodificação: "),
              Optional(MatchesRegex("Erro de decodificação: .+\\. Pedindo keyframe\\.")));
  EXPECT_TRUE(emissor->esperarLinha("Keyframe pedido pelo receptor"));
  EXPECT_EQ(esperarTela("depois-do-keyframe", padraoEmMovimento(video)), "");
  EXPECT_TRUE(esperar(
      [&] {
        return !emissor->esperarLinha("Exibição: ", 1s).value_or("Exibição: 0 ").starts_with("Exibição: 0 ");
      },
      30s))
      << "no report of pictures shown reached the sender";

  // A restarted sender listens elsewhere; the next search finds it there, and finds it again
  // after its stream turns corrupt.
  emissor.reset();
  Emissor novo({"--fps", "10", "--falha-comprimento", "5"}, true);
  const auto conectado = "Conectado a 127.0.0.1:" + std::to_string(novo.porta()) + " ";
  EXPECT_TRUE(orbelo.esperarLinha(conectado)) << "no connection to the restarted sender";
  EXPECT_TRUE(orbelo.esperarLinha("Dados inválidos do emissor: "));
  EXPECT_TRUE(orbelo.esperarLinha(conectado));
  ASSERT_TRUE(xdotool("key Escape"));
  EXPECT_EQ(orbelo.esperarFim(60s), 0);
  EXPECT_TRUE(novo.esperarLinha("Receptor desconectado: "));
}

// A TLS peer in the test relays a stream made with ffmpeg: what reaches the receiver, and in
// which order, is known to the byte.
TEST_F(ConexaoE2E, ARelayedStreamShowsItsColoursAndPointerWhereItIsPutAndAQuietSenderStaysConnected) {
  PastaTemporaria pasta;
  const auto fluxo = quadrantes(pasta, 3);
  ffmpeg("-f lavfi -i color=c=0xFF00FF:s=16x16 -frames:v 1 -pix_fmt rgb24 '" +
         (pasta / "cursor.png").string() + "'");
  const auto servidor = servidorPsk();
  Orbelo orbelo(configuracao.caminho(), discar(servidor->porta()));
  SessaoPsk sessao(*servidor);
  ASSERT_TRUE(sessao.aberta());
  EXPECT_TRUE(
      orbelo.esperarLinha("Conectado a 127.0.0.1:" + std::to_string(servidor->porta()) + " por lo, "));

  // The video fills (480, 180, 960 x 720); the pointer is 5% by 10% of it, 48 x 72, with
  // its hot spot a quarter across and three quarters down the image.
  const Caixa video{480, 180, 960, 720};
  sessao.enviar(Mensagens::Config{640, 480}.empacotar());
  sessao.enviar(*fluxo.parametros.empacotar());
  sessao.enviar(
      Mensagens::ImagemCursor{{0.05F, 0.1F, 0.25F, 0.75F}, lerArquivo(pasta / "cursor.png")}.empacotar());
  sessao.enviar(Mensagens::Cursor{0.25F, 0.5F, true}.empacotar());
  for (const auto& quadro : fluxo.quadros) {
    sessao.enviar(quadro.empacotar());
  }
  EXPECT_EQ(esperarTela("cursor", cursorEm({708, 486, 48, 72}, video)), "") << "hot spot at (720, 540)";
  EXPECT_EQ(orbelo.esperarLinha("Conexão encerrada", 12s), std::nullopt)
      << "a sender with nothing to say is still there";
}

// The link lost two ways, a TLS record spoilt once it is up and the sender gone, and dialling
// stopped from the notice: the remembered code stays, the receiver dials again, and the picture
// comes back each time. Dialling needs no avahi-daemon: this orbelo has no system bus at all.
TEST_F(ConexaoE2E, ALostLinkKeepsTheCodeAndIsDialledAgainEverySecondUntilStoppedAndThePictureComesBack) {
  const Caixa video{600, 180, 720, 720};
  auto emissor = std::make_unique<Emissor>(
      std::vector<std::string>{"--tamanho", "800x800", "--fps", "10", "--falha-registro", "50"});
  const auto porta = std::to_string(emissor->porta());
  escrever(preferencias(), R"({"codigo": "123456", "host": "127.0.0.1"})");
  Orbelo orbelo(configuracao.caminho(), {"--janela", "--porta", porta}, std::nullopt,
                {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/orbelo"});
  ASSERT_TRUE(orbelo.esperarLinha("Conectado a "));
  ASSERT_EQ(esperarTela("antes-da-queda", padraoDoEmissor(video)), "");
  const auto descritores = [&] { return nomesEm("/proc/" + std::to_string(orbelo.id()) + "/fd").size(); };
  const auto abertos = descritores();

  const auto fim = orbelo.esperarLinha({"Conexão encerrada", "O MacBook recusou o código "});
  ASSERT_TRUE(fim);
  EXPECT_TRUE(emissor->esperarLinha("Falha injetada: registro TLS estragado"));
  EXPECT_TRUE(fim->starts_with("Conexão encerrada: ")) << *fim;
  EXPECT_EQ(esperarTela("registro-corrompido", soAviso()), "") << "a notice, not the pairing panel";
  EXPECT_TRUE(orbelo.esperarLinha("Conectado a 127.0.0.1:" + porta + " ")) << "the receiver dials again";
  EXPECT_NE(conteudo(preferencias()).find("\"123456\""), std::string::npos) << "the code is forgotten";

  emissor.reset();
  EXPECT_TRUE(orbelo.esperarLinha({"Conexão encerrada", "Falha na conexão"}));
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(orbelo.esperarLinha("Falha na conexão: ", 5s)) << "the receiver keeps trying";
  }
  std::optional<Caixa> botao;
  ASSERT_EQ(esperarTela("queda",
                        [&](const Captura& tela) {
                          botao = botaoAviso(tela);
                          return botao ? soAviso()(tela) : "no notice button";
                        }),
            "")
      << "the picture is taken away and a notice says why";
  ASSERT_TRUE(xdotool("mousemove " + std::to_string(botao->x + botao->largura / 2) + " " +
                      std::to_string(botao->y + botao->altura / 2) + " click 1 mousemove 330 190"));
  EXPECT_EQ(esperarTela("painel-pelo-aviso", painel(false)), "");
  // Confirming the fields as they came dials the same sender again.
  ASSERT_TRUE(xdotool("key Return"));

  Emissor outra({"--tamanho", "800x800", "--fps", "10", "--porta", porta, "--falha-parametros", "15"});
  ASSERT_TRUE(orbelo.esperarLinha("Conectado a "));
  EXPECT_EQ(esperarTela("depois-da-volta", padraoDoEmissor(video)), "");
  EXPECT_LE(descritores(), abertos) << "the failed attempts left descriptors open";

  // The same parameter sets again in the middle of a group of pictures leave the decoder
  // going: the picture keeps moving long before the next key frame, ten seconds on.
  ASSERT_TRUE(outra.esperarLinha("Falha injetada: parâmetros reenviados"));
  EXPECT_EQ(esperarTela("parametros-reenviados", padraoEmMovimento(video), 4s), "");
  EXPECT_FALSE(outra.esperarLinha("Keyframe pedido pelo receptor", 1s));
  EXPECT_THAT(orbelo.linhas(), Not(Contains(StartsWith("A procura"))));
}

// The sender's end of a real link goes dark: no FIN, no reset, whatever was in flight lost.
TEST_F(ConexaoE2E, ALinkThatGoesDarkIsNoticedWithinTenSecondsAndTakenUpAgainWhenItComesBack) {
  Enlace enlace;
  if (!enlace.pronto) {
    GTEST_SKIP() << "network namespaces need root, ip netns and veth";
  }
  Emissor emissor({"--escutar", enlace.enderecoRemoto, "--tamanho", "800x800", "--fps", "10"}, false,
                  {"ip", "netns", "exec", enlace.ns});
  const auto destino = enlace.enderecoRemoto + ":" + std::to_string(emissor.porta());
  Orbelo orbelo(configuracao.caminho(), {"--janela", "--codigo", std::string(codigoTeste), "--host",
                                         enlace.enderecoRemoto, "--porta", std::to_string(emissor.porta())});
  ASSERT_TRUE(orbelo.esperarLinha("Conectado a " + destino + " por " + enlace.local + ", "));
  const Caixa video{600, 180, 720, 720};
  ASSERT_EQ(esperarTela("enlace-antes", padraoDoEmissor(video)), "");

  ASSERT_TRUE(enlace.ligar(false));
  const auto caiu = Relogio::now();
  const auto fim = orbelo.esperarLinha({"Conexão encerrada", "Falha na conexão"}, 10s);
  const auto notado = std::chrono::duration_cast<std::chrono::milliseconds>(Relogio::now() - caiu);
  ASSERT_TRUE(fim) << "nothing said within 10 s of the link going dark";
  std::cout << "link down -> \"" << *fim << "\" in " << notado.count() << " ms\n";
  EXPECT_TRUE(fim->starts_with("Conexão encerrada: ")) << *fim;

  ASSERT_TRUE(enlace.ligar(true));
  EXPECT_TRUE(orbelo.esperarLinha("Conectado a " + destino + " "));
}

}  // namespace
}  // namespace orbelo::teste
