// orbelo as a user runs it, in a window on the X display, against real senders on
// loopback: orbelo-emissor, openssl s_server relaying a stream made with ffmpeg, and
// avahi-daemon for discovery. Checks what the user sees and what the sender gets.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "Caso.hpp"
#include "FluxoH264.hpp"
#include "Verificacoes.hpp"

namespace orbelo::e2e {
namespace {

using Relogio = std::chrono::steady_clock;

class ConexaoE2E : public CasoE2E {
 protected:
  static std::vector<std::string> discar(std::uint16_t porta, std::vector<std::string> mais = {}) {
    std::vector<std::string> argumentos{"--janela",  "--codigo", std::string(codigoCerto), "--host",
                                        "127.0.0.1", "--porta",  std::to_string(porta)};
    argumentos.insert(argumentos.end(), mais.begin(), mais.end());
    return argumentos;
  }

  static std::string linhaConectado(std::uint16_t porta, std::string_view suite) {
    return "Conectado a 127.0.0.1:" + std::to_string(porta) + " por lo, cifrado com " + std::string(suite) +
           ".";
  }

  // The suite the sender reports for its receiver, as orbelo should print it.
  static std::string suiteDoEmissor(Emissor& emissor) {
    auto conectado = emissor.esperarLinha("Receptor conectado: ");
    if (!conectado) return "?";
    const auto abre = conectado->rfind('(');
    return conectado->substr(abre + 1, conectado->size() - abre - 2);
  }

  PastaTemporaria configuracao;
};

TEST_F(ConexaoE2E, DialledByAddressThePatternShowsLetterboxedInTheWindowWithItsBandsInOrder) {
  Emissor emissor({.extras = {"--tamanho", "1600x600", "--fps", "10"}});
  Orbelo orbelo(configuracao, discar(emissor.porta()));

  const auto conectado = orbelo.esperarLinha("Conectado a ");
  ASSERT_TRUE(conectado);
  EXPECT_EQ(*conectado, linhaConectado(emissor.porta(), suiteDoEmissor(emissor)));
  EXPECT_EQ(orbelo.esperarLinha("Emissor em "), "Emissor em 1600x600.");
  // The window's content is (320, 180, 1280 x 720): two thirds of the screen, centred.
  EXPECT_EQ(esperarTela("padrao-por-endereco", padraoDoEmissor({320, 300, 1280, 480})), "");
}

TEST_F(ConexaoE2E, InFullScreenTheScreenSizeIsAnnouncedThePictureFillsItAndEscapeEndsTheProgram) {
  Emissor emissor({.extras = {"--tamanho", "1280x720", "--fps", "10"}});
  Orbelo orbelo(configuracao, {"--codigo", std::string(codigoCerto), "--host", "127.0.0.1", "--porta",
                               std::to_string(emissor.porta())});

  EXPECT_EQ(emissor.esperarLinha("Tela do receptor: "), "Tela do receptor: 1920x1080, recursos 1");
  EXPECT_EQ(esperarTela("padrao-tela-cheia", padraoDoEmissor({0, 0, 1920, 1080})), "");
  ASSERT_TRUE(xdotool("key Escape"));
  EXPECT_EQ(orbelo.fim(10s), 0);
  EXPECT_TRUE(emissor.esperarLinha("Receptor desconectado: "));
}

TEST_F(ConexaoE2E, WithoutAnAddressTheSenderIsFoundByDnsSdOnceTheCableGivesWayAndFoundAgainWhenItRestarts) {
  const std::vector<std::string> extras{"--tamanho", "800x800", "--fps", "10"};
  auto emissor = std::make_unique<Emissor>(Emissor::Opcoes{.extras = extras, .anunciar = true});
  ASSERT_TRUE(emissor->esperarLinha("Anunciado como "));
  Orbelo orbelo(configuracao, {"--janela", "--codigo", std::string(codigoCerto)});

  // Loopback is no cable: the first, wired-only search finds nothing.
  EXPECT_TRUE(orbelo.esperarLinha("O cabo não levou ao MacBook; tentando por qualquer rede."));
  const auto conectado = orbelo.esperarLinha("Conectado a ");
  ASSERT_TRUE(conectado);
  EXPECT_EQ(*conectado, linhaConectado(emissor->porta(), suiteDoEmissor(*emissor)));
  EXPECT_EQ(esperarTela("padrao-por-descoberta", padraoDoEmissor({600, 180, 720, 720})), "");

  // Found by discovery, so no address is remembered with the code.
  const auto preferencias =
      esperarPreferencias(configuracao, [](const auto& p) { return p.contains("codigo"); });
  ASSERT_TRUE(preferencias);
  EXPECT_EQ(preferencias->value("codigo", ""), codigoCerto);
  EXPECT_FALSE(preferencias->contains("host"));

  // A restarted sender listens elsewhere; the next search finds it there.
  emissor.reset();
  Emissor novo({.extras = extras, .anunciar = true});
  const auto esperado = "Conectado a 127.0.0.1:" + std::to_string(novo.porta()) + " ";
  auto reconectado = orbelo.esperarLinha("Conectado a ");
  while (reconectado && !reconectado->starts_with(esperado))
    reconectado = orbelo.esperarLinha("Conectado a ");
  EXPECT_TRUE(reconectado) << "no connection to the restarted sender";
}

TEST_F(ConexaoE2E,
       ARelayedStreamGetsTheScreenMessageFirstShowsItsFramesInTheirOwnColoursAndHasItsPingsEchoed) {
  PastaTemporaria pasta;
  const auto fluxo = codificar(filtroQuadrantes(640, 480), 3, pasta);
  ASSERT_EQ(fluxo.quadros.size(), 3u);
  ASSERT_EQ(fluxo.quadros[0][0], 1) << "the first frame is a key frame";
  ServidorPsk servidor;
  Orbelo orbelo(configuracao, discar(servidor.porta(), {"--tela", "2560x1440"}));

  EXPECT_EQ(orbelo.esperarLinha("Conectado a "),
            linhaConectado(servidor.porta(), "PSK_WITH_AES_128_GCM_SHA256"));
  const Bytes tela{0x00, 0x00, 0x00, 0x0D, 0x05, 0x00, 0x00, 0x0A, 0x00,
                   0x00, 0x00, 0x05, 0xA0, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(servidor.recebidos(tela.size()), tela);

  servidor.enviar(Mensagem::abertura(640, 480, fluxo));
  EXPECT_EQ(orbelo.esperarLinha("Emissor em "), "Emissor em 640x480.");
  EXPECT_EQ(esperarTela("quadrantes", quadrantesEm({480, 180, 960, 720})), "");

  const Bytes ping{0xAB, 0xCD};
  servidor.enviar(Protocolo::empacotar(TipoMensagem::ping, ping));
  EXPECT_EQ(servidor.mensagem(TipoMensagem::pong), ping);
}

TEST_F(ConexaoE2E, WhenTheSenderDiesTheReceiverRetriesEverySecondAndThePictureComesBackWithIt) {
  const Caixa video{600, 180, 720, 720};
  const std::vector<std::string> extras{"--tamanho", "800x800", "--fps", "10"};
  auto emissor = std::make_unique<Emissor>(Emissor::Opcoes{.extras = extras});
  const auto porta = emissor->porta();
  Orbelo orbelo(configuracao, discar(porta));
  ASSERT_TRUE(orbelo.esperarLinha("Conectado a "));
  ASSERT_EQ(esperarTela("antes-da-queda", padraoDoEmissor(video)), "");

  emissor.reset();
  EXPECT_TRUE(orbelo.esperarLinha({"Conexão encerrada", "Falha na conexão"}));
  EXPECT_EQ(esperarTela("queda", soAviso()), "") << "the picture is taken away and a notice says why";

  std::vector<Relogio::time_point> falhas;
  while (falhas.size() < 3 && orbelo.esperarLinha("Falha na conexão: ")) falhas.push_back(Relogio::now());
  ASSERT_EQ(falhas.size(), 3u) << "the receiver keeps trying while the sender is away";
  for (std::size_t i = 1; i < falhas.size(); ++i) {
    EXPECT_GE(falhas[i] - falhas[i - 1], 800ms) << "retries wait a second, they do not spin";
  }

  Emissor devolta({.extras = extras, .porta = porta});
  ASSERT_TRUE(orbelo.esperarLinha("Conectado a "));
  EXPECT_EQ(esperarTela("depois-da-volta", padraoDoEmissor(video)), "");
}

// Ways orbelo-emissor breaks a connection after five frames, and the line each makes.
struct Quebra {
  const char* nome;
  const char* opcao;
  const char* linha;  // whole, or its beginning when the platform words the rest
};

class FluxoQuebradoE2E : public ConexaoE2E, public ::testing::WithParamInterface<Quebra> {};

TEST_P(FluxoQuebradoE2E, IsReportedAndTheReceiverConnectsAgainRatherThanTakingItForARefusedCode) {
  Emissor emissor({.extras = {"--tamanho", "640x360", "--fps", "10", GetParam().opcao, "5"}});
  Orbelo orbelo(configuracao, discar(emissor.porta()));

  ASSERT_TRUE(orbelo.esperarLinha("Conectado a "));
  const auto linha =
      orbelo.esperarLinha({"Dados inválidos", "Conexão encerrada", "Falha na conexão", "O MacBook recusou"});
  ASSERT_TRUE(linha);
  EXPECT_TRUE(linha->starts_with(GetParam().linha) && linha->ends_with(".")) << *linha;
  EXPECT_TRUE(orbelo.esperarLinha("Conectado a "));
  EXPECT_TRUE(emissor.esperarLinha("Receptor conectado: "));
  EXPECT_TRUE(emissor.esperarLinha("Receptor conectado: ")) << "the sender sees the receiver come back";
}

INSTANTIATE_TEST_SUITE_P(Quebras, FluxoQuebradoE2E,
                         ::testing::Values(Quebra{"CorruptLength", "--falha-comprimento",
                                                  "Dados inválidos do emissor: fluxo de dados corrompido."},
                                           Quebra{"CleanClose", "--falha-fechar",
                                                  "Conexão encerrada pelo emissor."},
                                           Quebra{"Reset", "--falha-reset", "Conexão encerrada: "}),
                         [](const auto& info) { return std::string(info.param.nome); });

TEST_F(ConexaoE2E, AnUndecodableFrameAsksForAKeyFrameAndThePictureMovesAgainAfterIt) {
  const Caixa video{320, 180, 1280, 720};
  Emissor emissor({.extras = {"--tamanho", "1280x720", "--fps", "10", "--falha-lixo", "15"}});
  Orbelo orbelo(configuracao, discar(emissor.porta()));

  ASSERT_TRUE(orbelo.esperarLinha("Conectado a "));
  const auto erro = orbelo.esperarLinha("Erro de decodificação: ");
  ASSERT_TRUE(erro);
  EXPECT_TRUE(erro->ends_with(". Pedindo keyframe.")) << *erro;
  EXPECT_GT(erro->size(), std::string("Erro de decodificação: . Pedindo keyframe.").size())
      << "the decoder says why";
  EXPECT_TRUE(emissor.esperarLinha("Keyframe pedido pelo receptor"));

  const auto antes = capturar();
  EXPECT_EQ(esperarTela("depois-do-keyframe", padraoEmMovimento(video, antes)), "");
}

}  // namespace
}  // namespace orbelo::e2e
