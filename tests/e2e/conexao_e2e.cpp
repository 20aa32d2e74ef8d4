// orbelo as a user runs it against real senders on loopback: orbelo-emissor, a TLS peer in
// the test, and avahi-daemon for discovery. Checks what the user sees and the sender gets.
#include "e2e/Caso.hpp"

namespace orbelo::teste {
namespace {

using Relogio = std::chrono::steady_clock;

class ConexaoE2E : public CasoE2E {
 protected:
  // The line orbelo prints for a sender on this port, in the suite the sender reports.
  static std::string linhaConectado(Emissor& emissor) {
    const auto conectado = emissor.esperarLinha("Receptor conectado: ").value_or("()");
    const auto abre = conectado.rfind('(');
    return "Conectado a 127.0.0.1:" + std::to_string(emissor.porta()) + " por lo, cifrado com " +
           conectado.substr(abre + 1, conectado.size() - abre - 2) + ".";
  }
};

TEST_F(ConexaoE2E, DialledByAddressThePatternShowsLetterboxedAndMovesAgainAfterAnUndecodableFrame) {
  Emissor emissor({"--tamanho", "1600x600", "--fps", "10", "--falha-lixo", "15"});
  Orbelo orbelo(configuracao.caminho(), discar(emissor.porta()));
  EXPECT_EQ(orbelo.esperarLinha("Conectado a "), linhaConectado(emissor));
  EXPECT_EQ(orbelo.esperarLinha("Emissor em "), "Emissor em 1600x600.");
  // The window's content is (320, 180, 1280 x 720): two thirds of the screen, centred.
  const Caixa video{320, 300, 1280, 480};
  EXPECT_EQ(esperarTela("padrao-por-endereco", padraoDoEmissor(video)), "");

  const auto erro = orbelo.esperarLinha("Erro de decodificação: ");
  ASSERT_TRUE(erro);
  EXPECT_TRUE(erro->ends_with(". Pedindo keyframe.")) << *erro;
  EXPECT_GT(erro->size(), std::string("Erro de decodificação: . Pedindo keyframe.").size())
      << "the decoder says why";
  EXPECT_TRUE(emissor.esperarLinha("Keyframe pedido pelo receptor"));
  const auto antes = capturar();
  EXPECT_EQ(esperarTela("depois-do-keyframe", padraoEmMovimento(video, antes)), "");
}

// Full screen, as a user starts it: the screen size announced, the picture letterboxed in
// it, and Escape ends the program.
TEST_F(ConexaoE2E, WithoutAnAddressTheSenderIsFoundByDnsSdOnceTheCableGivesWayAndFoundAgainWhenItRestarts) {
  const std::vector<std::string> extras{"--tamanho", "800x800", "--fps", "10"};
  auto emissor = std::make_unique<Emissor>(extras, true);
  ASSERT_TRUE(emissor->esperarLinha("Anunciado como "));
  Orbelo orbelo(configuracao.caminho(), {"--codigo", std::string(codigoTeste)});

  // Loopback is no cable: the first, wired-only search finds nothing.
  EXPECT_TRUE(orbelo.esperarLinha("O cabo não levou ao MacBook; tentando por qualquer rede."));
  EXPECT_EQ(orbelo.esperarLinha("Conectado a "), linhaConectado(*emissor));
  EXPECT_EQ(emissor->esperarLinha("Tela do receptor: "), "Tela do receptor: 1920x1080, recursos 1");
  EXPECT_EQ(esperarTela("padrao-por-descoberta", padraoDoEmissor({420, 0, 1080, 1080})), "");
  // Found by discovery, so no address is remembered with the code.
  const auto lidas = esperarPreferencias([](const auto& p) { return p.contains("codigo"); });
  EXPECT_EQ(lidas.value("codigo", ""), codigoTeste);
  EXPECT_FALSE(lidas.contains("host"));

  // A restarted sender listens elsewhere; the next search finds it there.
  emissor.reset();
  Emissor novo(extras, true);
  EXPECT_TRUE(orbelo.esperarLinha("Conectado a 127.0.0.1:" + std::to_string(novo.porta()) + " "))
      << "no connection to the restarted sender";
  ASSERT_TRUE(xdotool("key Escape"));
  EXPECT_EQ(orbelo.esperarFim(10s), 0);
  EXPECT_TRUE(novo.esperarLinha("Receptor desconectado: "));
}

// A TLS peer in the test relays a stream made with ffmpeg: what reaches the receiver, and in
// which order, is known to the byte.
TEST_F(ConexaoE2E, ARelayedStreamGetsTheScreenFirstShowsItsColoursAndPointerEchoesPingsAndEndsOnANotice) {
  PastaTemporaria pasta;
  const auto fluxo = quadrantes(pasta, 3);
  ffmpeg("-f lavfi -i color=c=0xFF00FF:s=16x16 -frames:v 1 -pix_fmt rgb24 '" +
         (pasta / "cursor.png").string() + "'");
  const auto servidor = servidorPsk();
  Orbelo orbelo(configuracao.caminho(), discar(servidor->porta(), {"--tela", "2560x1440"}));
  auto sessao = std::make_unique<SessaoPsk>(*servidor);
  ASSERT_TRUE(sessao->aberta());
  EXPECT_TRUE(
      orbelo.esperarLinha("Conectado a 127.0.0.1:" + std::to_string(servidor->porta()) + " por lo, "));
  const auto tela = sessao->receber(30s);
  ASSERT_TRUE(tela);
  EXPECT_EQ(Protocolo::empacotar(tela->first, tela->second),
            (Bytes{0, 0, 0, 0x0D, 0x05, 0, 0, 0x0A, 0, 0, 0, 0x05, 0xA0, 0, 0, 0, 1}));

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

  // The pictures clear the notice; the quadrants show in their colours, the pointer where it was put.
  for (const auto& quadro : fluxo.quadros) sessao->enviar(Mensagens::quadro(quadro));
  EXPECT_EQ(esperarTela("cursor", cursorEm({708, 486, 48, 72}, video)), "") << "hot spot at (720, 540)";
  sessao->enviar(Mensagens::cursor(0.75F, 0.25F, true));
  EXPECT_EQ(esperarTela("cursor-movido", cursorEm({1188, 306, 48, 72}, video)), "")
      << "hot spot at (1200, 360)";

  const Bytes ping{0xAB, 0xCD};
  sessao->enviar(TipoMensagem::ping, ping);
  auto resposta = sessao->receber(30s);
  while (resposta && resposta->first != TipoMensagem::pong) resposta = sessao->receber(30s);
  ASSERT_TRUE(resposta);
  EXPECT_EQ(resposta->second, ping);

  sessao.reset();
  EXPECT_TRUE(orbelo.esperarLinha("Conexão encerrada"));
  EXPECT_EQ(esperarTela("cursor-com-aviso", soAviso()), "");
}

TEST_F(ConexaoE2E, WhenTheSenderDiesTheReceiverRetriesEverySecondAndThePictureComesBackWithIt) {
  const Caixa video{600, 180, 720, 720};
  auto emissor = std::make_unique<Emissor>(std::vector<std::string>{"--tamanho", "800x800", "--fps", "10"});
  const auto porta = std::to_string(emissor->porta());
  Orbelo orbelo(configuracao.caminho(), discar(emissor->porta()));
  ASSERT_TRUE(orbelo.esperarLinha("Conectado a "));
  ASSERT_EQ(esperarTela("antes-da-queda", padraoDoEmissor(video)), "");

  emissor.reset();
  EXPECT_TRUE(orbelo.esperarLinha({"Conexão encerrada", "Falha na conexão"}));
  EXPECT_EQ(esperarTela("queda", soAviso()), "") << "the picture is taken away and a notice says why";
  std::vector<Relogio::time_point> falhas;
  while (falhas.size() < 3 && orbelo.esperarLinha("Falha na conexão: ")) falhas.push_back(Relogio::now());
  ASSERT_EQ(falhas.size(), 3u) << "the receiver keeps trying while the sender is away";
  for (std::size_t i = 1; i < falhas.size(); ++i)
    EXPECT_GE(falhas[i] - falhas[i - 1], 800ms) << "retries wait a second, they do not spin";

  Emissor outra({"--tamanho", "800x800", "--fps", "10", "--porta", porta, "--falha-parametros", "15"});
  ASSERT_TRUE(orbelo.esperarLinha("Conectado a "));
  EXPECT_EQ(esperarTela("depois-da-volta", padraoDoEmissor(video)), "");

  // The same parameter sets again in the middle of a group of pictures leave the decoder
  // going: the picture keeps moving long before the next key frame, ten seconds on.
  ASSERT_TRUE(outra.esperarLinha("Falha injetada: parâmetros reenviados"));
  const auto antes = capturar();
  EXPECT_EQ(esperarTela("parametros-reenviados", padraoEmMovimento(video, antes), 4s), "");
  EXPECT_FALSE(outra.esperarLinha("Keyframe pedido pelo receptor", 1s));
}

}  // namespace
}  // namespace orbelo::teste
