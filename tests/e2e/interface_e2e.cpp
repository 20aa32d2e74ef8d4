// What the user sees and does on orbelo's window: the pairing panel typed into with
// xdotool, the notice and its button, the remote pointer over the video, and the pairing
// remembered between runs. Real senders on loopback; the screen read back with import.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "Caso.hpp"
#include "FluxoH264.hpp"
#include "Verificacoes.hpp"

namespace orbelo::e2e {
namespace {

namespace fs = std::filesystem;
using Relogio = std::chrono::steady_clock;

class InterfaceE2E : public CasoE2E {
 protected:
  // With no window manager the keyboard follows the mouse: it rests inside the window,
  // away from any button.
  static bool digitar(const std::string& texto) {
    return xdotool("mousemove 330 190") && (texto.empty() || xdotool("type --delay 40 '" + texto + "'")) &&
           xdotool("key Return");
  }

  static std::string linhaRecusa(std::string_view codigo) {
    return "O MacBook recusou o código " + std::string(codigo) + " (";
  }

  PastaTemporaria configuracao;
};

TEST_F(InterfaceE2E, AFirstStartAsksForTheCodeAWrongOneIsRefusedOnceAndTheRightOneConnectsAndIsRemembered) {
  Emissor emissor({.extras = {"--tamanho", "1600x600", "--fps", "10"}});
  const auto porta = std::to_string(emissor.porta());
  const Caixa video{320, 300, 1280, 480};
  {
    Orbelo orbelo(configuracao, {"--janela", "--host", "127.0.0.1", "--porta", porta});
    ASSERT_EQ(esperarTela("painel", painel(false, CampoCodigo::vazio)), "");

    ASSERT_TRUE(digitar("111 111"));
    const auto recusa = orbelo.esperarLinha("O MacBook recusou o código ");
    ASSERT_TRUE(recusa);
    const auto recusado = Relogio::now();
    EXPECT_TRUE(recusa->starts_with(linhaRecusa("111111")) && recusa->ends_with(").")) << *recusa;
    EXPECT_TRUE(emissor.esperarLinha("Falha de TLS com "));
    EXPECT_EQ(esperarTela("painel-recusado", painel(true, CampoCodigo::vazio)), "");
    // A retry would come within a wired attempt and a second of the refusal.
    const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(recusado + 5s - Relogio::now());
    EXPECT_EQ(emissor.esperarLinha("", resta), std::nullopt) << "the sender saw another attempt";

    ASSERT_TRUE(digitar("123 456"));
    ASSERT_TRUE(orbelo.esperarLinha("Conectado a "));
    EXPECT_EQ(esperarTela("padrao-apos-painel", padraoDoEmissor(video)), "");

    const auto preferencias =
        esperarPreferencias(configuracao, [](const auto& p) { return p.value("codigo", "") == codigoCerto; });
    ASSERT_TRUE(preferencias);
    EXPECT_EQ(preferencias->value("codigo", ""), codigoCerto);
    EXPECT_EQ(preferencias->value("host", ""), "127.0.0.1");
    EXPECT_EQ(fs::status(caminhoPreferencias(configuracao)).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << "the code is readable by its owner alone";
  }

  Orbelo denovo(configuracao, {"--janela", "--porta", porta});
  const auto conectado = denovo.esperarLinha("Conectado a ");
  ASSERT_TRUE(conectado);
  EXPECT_TRUE(conectado->starts_with("Conectado a 127.0.0.1:" + porta + " ")) << *conectado;
  EXPECT_EQ(esperarTela("padrao-lembrado", padraoDoEmissor(video)), "");
}

TEST_F(InterfaceE2E, ARememberedCodeTheSenderRefusesIsForgottenButItsAddressIsKept) {
  Emissor emissor({.extras = {"--tamanho", "640x360", "--fps", "10"}});
  fs::create_directories(caminhoPreferencias(configuracao).parent_path());
  std::ofstream(caminhoPreferencias(configuracao)) << R"({"codigo": "111111", "host": "127.0.0.1"})";
  Orbelo orbelo(configuracao, {"--janela", "--porta", std::to_string(emissor.porta())});

  const auto recusa = orbelo.esperarLinha("O MacBook recusou o código ");
  ASSERT_TRUE(recusa);
  EXPECT_TRUE(recusa->starts_with(linhaRecusa("111111"))) << *recusa;
  EXPECT_EQ(esperarTela("painel-lembrado-recusado", painel(true, CampoCodigo::vazio)), "");
  const auto preferencias =
      esperarPreferencias(configuracao, [](const auto& p) { return !p.contains("codigo"); });
  ASSERT_TRUE(preferencias);
  EXPECT_FALSE(preferencias->contains("codigo")) << "the next start asks instead of failing again";
  EXPECT_EQ(preferencias->value("host", ""), "127.0.0.1");
}

TEST_F(InterfaceE2E, TheNoticeButtonStopsTheConnectionAndOpensThePanelWithTheCodeAndAddressInUse) {
  OuvinteMudo emissorMudo;
  Orbelo orbelo(configuracao, {"--janela", "--codigo", std::string(codigoCerto), "--host", "127.0.0.1",
                               "--porta", std::to_string(emissorMudo.porta())});
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
  EXPECT_FALSE(emissorMudo.outraConexao(5s)) << "stopped: no attempt follows";

  // Confirming the fields as they came dials the same sender again.
  ASSERT_TRUE(digitar(""));
  EXPECT_TRUE(emissorMudo.outraConexao(esperaLinha));
}

TEST_F(InterfaceE2E, ThePointerIsDrawnWhereAndAsLargeAsTheSenderSaysAndGoesAwayWhileANoticeShows) {
  PastaTemporaria pasta;
  const auto fluxo = codificar(filtroQuadrantes(640, 480), 1, pasta);
  const auto imagem = pngLiso("0xFF00FF", 16, pasta);
  ServidorPsk servidor;
  Orbelo orbelo(configuracao, {"--janela", "--codigo", std::string(codigoCerto), "--host", "127.0.0.1",
                               "--porta", std::to_string(servidor.porta())});
  ASSERT_TRUE(orbelo.esperarLinha("Conectado a "));

  // The video fills (480, 180, 960 x 720); the pointer is 5% by 10% of it, 48 x 72, with
  // its hot spot a quarter across and three quarters down the image.
  const Caixa video{480, 180, 960, 720};
  Bytes antesDaImagem = Mensagem::config(640, 480);
  for (const auto& mensagem :
       {Mensagem::parametros(fluxo), Mensagem::imagemCursor(0.05f, 0.1f, 0.25f, 0.75f, imagem),
        Mensagem::cursor(0.25f, 0.5f, true)}) {
    antesDaImagem.insert(antesDaImagem.end(), mensagem.begin(), mensagem.end());
  }
  servidor.enviar(antesDaImagem);
  EXPECT_EQ(orbelo.esperarLinha("Emissor em "), "Emissor em 640x480.");
  EXPECT_EQ(esperarTela("cursor-esperando-imagem", soAviso()), "")
      << "the pointer waits while the notice shows";

  // The first picture clears the notice, and the pointer appears where it was put.
  servidor.enviar(Mensagem::quadro(fluxo.quadros[0]));
  EXPECT_EQ(esperarTela("cursor", cursorEm({708, 486, 48, 72}, video)), "") << "hot spot at (720, 540)";

  servidor.enviar(Mensagem::cursor(0.75f, 0.25f, true));
  EXPECT_EQ(esperarTela("cursor-movido", cursorEm({1188, 306, 48, 72}, video)), "")
      << "hot spot at (1200, 360)";

  servidor.encerrar();
  EXPECT_TRUE(orbelo.esperarLinha("Conexão encerrada"));
  EXPECT_EQ(esperarTela("cursor-com-aviso", soAviso()), "");
}

}  // namespace
}  // namespace orbelo::e2e
