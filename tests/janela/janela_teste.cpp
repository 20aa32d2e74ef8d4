#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "apoio/Apoio.hpp"
#include "apoio/Tela.hpp"
#include "receptor/plataforma/janela/JanelaSdl.hpp"

namespace orbelo {
namespace {

using namespace std::chrono_literals;

// The video as the window sees it: a picture is new until drawn; presents are counted.
struct VideoFalso : VideoNaJanela {
  bool mudou() const override { return nova; }
  bool imagemACaminho() const override { return aCaminho; }
  void desenhar(int, int) override { nova = false; }
  void apresentado() override { ++apresentados; }
  bool nova = false, aCaminho = false;
  int apresentados = 0;
};

// Runs the window's loop with each step of `roteiro` on the main thread once the window has drawn
// no frame for 200 ms (or 30 s), noting in `antes` the frames drawn before it; then the loop is told
// to quit.
class JanelaTeste : public ::testing::Test {
 protected:
  EstadoTela estado;
  ExecutorPrincipal principal;
  VideoFalso video;
  std::vector<std::function<void()>> roteiro;
  std::vector<int> antes;

  void darPasso(std::size_t i, int vistos, std::chrono::steady_clock::time_point desde) {
    const auto agora = std::chrono::steady_clock::now();
    if (vistos != video.apresentados) {
      vistos = video.apresentados, desde = agora;
    } else if (agora - desde >= 200ms || agora - inicioPasso >= 30s) {
      antes.push_back(video.apresentados);
      if (i == roteiro.size()) {
        SDL_Event sair{SDL_QUIT};
        SDL_PushEvent(&sair);
        return;
      }
      roteiro[i++]();
      vistos = -1, inicioPasso = agora;
    }
    std::this_thread::sleep_for(5ms);
    principal.executar([this, i, vistos, desde] { darPasso(i, vistos, desde); });
  }

 private:
  std::chrono::steady_clock::time_point inicioPasso = std::chrono::steady_clock::now();
};

// Only a change or a new picture draws, and a change while a picture is on its way waits for it or
// the deadline; then the keyboard types, tabs, pastes and confirms with Return.
TEST_F(JanelaTeste, DrawsOnlyWhatChangedAndTheKeyboardFillsAndConfirmsThePanel) {
  teste::prepararServicos();
  // A pointer left over a button by an earlier test would light it up.
  teste::xdotool("mousemove 1 1");
  std::vector<std::pair<std::string, std::string>> confirmacoes;
  AcoesJanela acoes;
  acoes.confirmarPareamento = [&] { confirmacoes.emplace_back(estado.campoCodigo, estado.campoHost); };
  std::string erro;
  const auto janela = JanelaSdl::abrir(false, estado, principal, std::move(acoes), erro);
  ASSERT_TRUE(janela) << erro;
  janela->mostrarVideo(video);

  std::optional<int> aoChegarImagem;
  std::chrono::steady_clock::duration ateImagem{};
  auto moverCursor = [&](double x) {
    estado.cursorOculto = false;
    estado.retanguloCursor = Retangulo{x, 500, 32, 32};
  };
  auto mostrarPainel = [&] {
    estado.pilhaAvisoOculta = true;
    estado.pareamentoOculto = false;
    estado.focarCodigo = true;
  };
  roteiro = {
      [] {},
      [] {},
      [&] { video.nova = true; },
      [&] { estado.textoAviso = "Conectando…"; },
      [&] {
        video.aCaminho = true;
        moverCursor(100);
        // The picture arrives on the loop's next pass, well inside the wait.
        const auto movido = std::chrono::steady_clock::now();
        principal.executar([&, movido] {
          ateImagem = std::chrono::steady_clock::now() - movido;
          aoChegarImagem = video.apresentados;
          video.nova = true;
        });
      },
      [&] { moverCursor(200); },
      [&] {
        video.aCaminho = false;
        moverCursor(300);
      },
      mostrarPainel,
      // Sent while the loop is busy here, so all the keys arrive in one batch.
      [&] { teste::xdotool("mousemove 20 20 type --delay 0 '123 456'"); },
      [&] { teste::xdotool("key --delay 0 Tab type --delay 0 ' 10.0.0.2'"); },
      [&] { teste::xdotool("key --delay 0 Return"); },
      [&] {
        SDL_SetClipboardText("654 321");
        mostrarPainel();
      },
      // Focusing the field selects its text, which the paste replaces.
      [&] { teste::xdotool("key --delay 0 ctrl+v Return"); },
  };
  principal.executar([this] { darPasso(0, -1, std::chrono::steady_clock::now()); });
  janela->rodar();

  ASSERT_GE(antes.size(), 8u);
  EXPECT_GT(antes[0], 0) << "the first frames are drawn";
  EXPECT_EQ(antes[2], antes[1]) << "a task that changed nothing drew";
  EXPECT_EQ(antes[3], antes[2] + 1) << "a new picture drew one frame";
  EXPECT_EQ(antes[4], antes[3] + 1) << "a changed notice drew one frame";
  ASSERT_TRUE(aoChegarImagem.has_value());
  if (ateImagem < JanelaSdl::esperaMaximaImagem) {
    EXPECT_EQ(*aoChegarImagem, antes[4]) << "the pointer was drawn before its picture came";
  }
  EXPECT_EQ(antes[5], antes[4] + 1) << "the pointer and its picture take one frame";
  EXPECT_EQ(antes[6], antes[5] + 1) << "a picture that never comes holds the pointer back only briefly";
  EXPECT_EQ(antes[7], antes[6] + 1) << "with nothing on its way the pointer is drawn";

  ASSERT_EQ(confirmacoes.size(), 2u);
  EXPECT_EQ(confirmacoes[0], std::make_pair(std::string("123 456"), std::string(" 10.0.0.2")));
  EXPECT_EQ(confirmacoes[1].first, "654 321");
}

}  // namespace
}  // namespace orbelo
