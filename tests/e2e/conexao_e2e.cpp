// orbelo as a user runs it, in a window on the X display, against real senders on
// loopback: orbelo-emissor, a TLS peer in the test relaying a stream made with ffmpeg, and
// avahi-daemon for discovery. Checks what the user sees and what the sender gets.
#include "e2e/Caso.hpp"

namespace orbelo::teste {
namespace {

using Relogio = std::chrono::steady_clock;

class ConexaoE2E : public CasoE2E {
 protected:
  // The line orbelo prints for a sender on this port, in the suite the sender reports.
  static std::string linhaConectado(Emissor& emissor) {
    const auto conectado = emissor.esperarLinha("Receptor conectado: ");
    const auto abre = conectado.value_or("()").rfind('(');
    return "Conectado a 127.0.0.1:" + std::to_string(emissor.porta()) + " por lo, cifrado com " +
           conectado.value_or("()").substr(abre + 1, conectado.value_or("()").size() - abre - 2) + ".";
  }
};

TEST_F(ConexaoE2E, DialledByAddressThePatternShowsLetterboxedInTheWindowWithItsBandsInOrder) {
  Emissor emissor({"--tamanho", "1600x600", "--fps", "10"});
  Orbelo orbelo(configuracao.caminho(), discar(emissor.porta()));
  EXPECT_EQ(orbelo.esperarLinha("Conectado a "), linhaConectado(emissor));
  EXPECT_EQ(orbelo.esperarLinha("Emissor em "), "Emissor em 1600x600.");
  // The window's content is (320, 180, 1280 x 720): two thirds of the screen, centred.
  EXPECT_EQ(esperarTela("padrao-por-endereco", padraoDoEmissor({320, 300, 1280, 480})), "");
}

TEST_F(ConexaoE2E, InFullScreenTheScreenSizeIsAnnouncedThePictureFillsItAndEscapeEndsTheProgram) {
  Emissor emissor({"--tamanho", "1280x720", "--fps", "10"});
  Orbelo orbelo(configuracao.caminho(), {"--codigo", std::string(codigoTeste), "--host", "127.0.0.1",
                                         "--porta", std::to_string(emissor.porta())});
  EXPECT_EQ(emissor.esperarLinha("Tela do receptor: "), "Tela do receptor: 1920x1080, recursos 1");
  EXPECT_EQ(esperarTela("padrao-tela-cheia", padraoDoEmissor({0, 0, 1920, 1080})), "");
  ASSERT_TRUE(xdotool("key Escape"));
  EXPECT_EQ(orbelo.esperarFim(10s), 0);
  EXPECT_TRUE(emissor.esperarLinha("Receptor desconectado: "));
}

TEST_F(ConexaoE2E, WithoutAnAddressTheSenderIsFoundByDnsSdOnceTheCableGivesWayAndFoundAgainWhenItRestarts) {
  const std::vector<std::string> extras{"--tamanho", "800x800", "--fps", "10"};
  auto emissor = std::make_unique<Emissor>(extras, true);
  ASSERT_TRUE(emissor->esperarLinha("Anunciado como "));
  Orbelo orbelo(configuracao.caminho(), {"--janela", "--codigo", std::string(codigoTeste)});

  // Loopback is no cable: the first, wired-only search finds nothing.
  EXPECT_TRUE(orbelo.esperarLinha("O cabo não levou ao MacBook; tentando por qualquer rede."));
  EXPECT_EQ(orbelo.esperarLinha("Conectado a "), linhaConectado(*emissor));
  EXPECT_EQ(esperarTela("padrao-por-descoberta", padraoDoEmissor({600, 180, 720, 720})), "");
  // Found by discovery, so no address is remembered with the code.
  const auto lidas = esperarPreferencias([](const auto& p) { return p.contains("codigo"); });
  EXPECT_EQ(lidas.value("codigo", ""), codigoTeste);
  EXPECT_FALSE(lidas.contains("host"));

  // A restarted sender listens elsewhere; the next search finds it there.
  emissor.reset();
  Emissor novo(extras, true);
  const auto esperado = "Conectado a 127.0.0.1:" + std::to_string(novo.porta()) + " ";
  auto reconectado = orbelo.esperarLinha("Conectado a ");
  while (reconectado && !reconectado->starts_with(esperado))
    reconectado = orbelo.esperarLinha("Conectado a ");
  EXPECT_TRUE(reconectado) << "no connection to the restarted sender";
}

TEST_F(ConexaoE2E,
       ARelayedStreamGetsTheScreenMessageFirstShowsItsFramesInTheirOwnColoursAndHasItsPingsEchoed) {
  PastaTemporaria pasta;
  const auto fluxo = quadrantes(pasta, 3);
  ASSERT_EQ(fluxo.quadros.size(), 3u);
  ASSERT_TRUE(fluxo.quadros[0].chave);
  const auto servidor = servidorPsk();
  Orbelo orbelo(configuracao.caminho(), discar(servidor->porta(), {"--tela", "2560x1440"}));
  SessaoPsk sessao(*servidor);
  ASSERT_TRUE(sessao.aberta());
  EXPECT_TRUE(
      orbelo.esperarLinha("Conectado a 127.0.0.1:" + std::to_string(servidor->porta()) + " por lo, "));
  const auto tela = sessao.receber(30s);
  ASSERT_TRUE(tela);
  EXPECT_EQ(Protocolo::empacotar(tela->first, tela->second),
            (Bytes{0, 0, 0, 0x0D, 0x05, 0, 0, 0x0A, 0, 0, 0, 0x05, 0xA0, 0, 0, 0, 1}));

  sessao.enviar(Mensagens::config({640, 480}));
  sessao.enviar(*Mensagens::parametros(fluxo.parametros));
  for (const auto& quadro : fluxo.quadros) sessao.enviar(Mensagens::quadro(quadro));
  EXPECT_EQ(orbelo.esperarLinha("Emissor em "), "Emissor em 640x480.");
  EXPECT_EQ(esperarTela("quadrantes", quadrantesEm({480, 180, 960, 720})), "");

  const Bytes ping{0xAB, 0xCD};
  sessao.enviar(TipoMensagem::ping, ping);
  auto resposta = sessao.receber(30s);
  while (resposta && resposta->first != TipoMensagem::pong) resposta = sessao.receber(30s);
  ASSERT_TRUE(resposta);
  EXPECT_EQ(resposta->second, ping);
}

TEST_F(ConexaoE2E, WhenTheSenderDiesTheReceiverRetriesEverySecondAndThePictureComesBackWithIt) {
  const Caixa video{600, 180, 720, 720};
  const std::vector<std::string> extras{"--tamanho", "800x800", "--fps", "10"};
  auto emissor = std::make_unique<Emissor>(extras);
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

  auto devolta = extras;
  devolta.insert(devolta.end(), {"--porta", porta});
  Emissor outra(devolta);
  ASSERT_TRUE(orbelo.esperarLinha("Conectado a "));
  EXPECT_EQ(esperarTela("depois-da-volta", padraoDoEmissor(video)), "");
}

TEST_F(ConexaoE2E, AnUndecodableFrameAsksForAKeyFrameAndThePictureMovesAgainAfterIt) {
  Emissor emissor({"--tamanho", "1280x720", "--fps", "10", "--falha-lixo", "15"});
  Orbelo orbelo(configuracao.caminho(), discar(emissor.porta()));
  ASSERT_TRUE(orbelo.esperarLinha("Conectado a "));
  const auto erro = orbelo.esperarLinha("Erro de decodificação: ");
  ASSERT_TRUE(erro);
  EXPECT_TRUE(erro->ends_with(". Pedindo keyframe.")) << *erro;
  EXPECT_GT(erro->size(), std::string("Erro de decodificação: . Pedindo keyframe.").size())
      << "the decoder says why";
  EXPECT_TRUE(emissor.esperarLinha("Keyframe pedido pelo receptor"));
  const auto antes = capturar();
  EXPECT_EQ(esperarTela("depois-do-keyframe", padraoEmMovimento({320, 180, 1280, 720}, antes)), "");
}

}  // namespace
}  // namespace orbelo::teste
