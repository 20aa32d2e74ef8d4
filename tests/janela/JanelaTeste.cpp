#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "receptor/plataforma/janela/JanelaSdl.hpp"

namespace orbelo {
namespace {

using namespace std::chrono_literals;

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};

// The screen, rows from the top.
struct Captura {
  int largura = 0;
  int altura = 0;
  std::vector<std::uint8_t> rgb;

  Rgb em(int x, int y) const {
    auto i = (static_cast<std::size_t>(y) * largura + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }

  // Rows (from the top) holding a run of at least `comprimento` pixels that pass `teste`;
  // a long run finds filled shapes, not the edges of text drawn over them.
  std::vector<int> linhas(const std::function<bool(Rgb)>& teste, int comprimento = 1) const {
    std::vector<int> achadas;
    for (int y = 0; y < altura; ++y) {
      int seguidos = 0;
      for (int x = 0; x < largura && seguidos < comprimento; ++x)
        seguidos = teste(em(x, y)) ? seguidos + 1 : 0;
      if (seguidos >= comprimento) achadas.push_back(y);
    }
    return achadas;
  }

  // Horizontal extent of the pixels that pass `teste` in rows `de` to `ate`, or none.
  std::optional<std::pair<int, int>> colunas(const std::function<bool(Rgb)>& teste, int de = 0,
                                             int ate = INT_MAX) const {
    std::optional<std::pair<int, int>> extensao;
    for (int y = de; y <= std::min(ate, altura - 1); ++y) {
      for (int x = 0; x < largura; ++x) {
        if (!teste(em(x, y))) continue;
        if (!extensao) extensao = {x, x};
        extensao->first = std::min(extensao->first, x);
        extensao->second = std::max(extensao->second, x);
      }
    }
    return extensao;
  }
};

// What the X server shows, read as a person would see it; the frame has been swapped
// by the time a step runs.
Captura capturar() {
  Captura captura;
  SDL_GL_GetDrawableSize(SDL_GL_GetCurrentWindow(), &captura.largura, &captura.altura);
  captura.rgb.resize(static_cast<std::size_t>(captura.largura) * captura.altura * 3);
  std::unique_ptr<FILE, int (*)(FILE*)> import(popen("import -window root -depth 8 rgb:-", "r"), pclose);
  if (!import || std::fread(captura.rgb.data(), 1, captura.rgb.size(), import.get()) != captura.rgb.size()) {
    ADD_FAILURE() << "import gave no picture";
  }
  return captura;
}

bool perto(Rgb a, Rgb b, int tolerancia) {
  return std::abs(a.r - b.r) <= tolerancia && std::abs(a.g - b.g) <= tolerancia &&
         std::abs(a.b - b.b) <= tolerancia;
}
bool preto(Rgb c) {
  return c == Rgb{0, 0, 0};
}
bool cinzaNeutro(Rgb c) {
  return c.r == c.g && c.g == c.b && c.r > 0;
}

// Groups of consecutive rows.
int faixas(const std::vector<int>& linhas) {
  int total = 0;
  for (std::size_t i = 0; i < linhas.size(); ++i) {
    if (i == 0 || linhas[i] != linhas[i - 1] + 1) ++total;
  }
  return total;
}

void xdotool(const std::string& argumentos) {
  ASSERT_EQ(std::system(("xdotool " + argumentos).c_str()), 0) << argumentos;
}

class JanelaTeste : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (scripts/servicos-teste.sh)";
  }

  void abrir(bool comum = false) {
    // A pointer left over a button by an earlier test would light it up.
    xdotool("mousemove 1 1");
    AcoesJanela acoes;
    acoes.abrirPareamento = [this] { ++aberturas; };
    acoes.confirmarPareamento = [this] { confirmacoes.emplace_back(estado.campoCodigo, estado.campoHost); };
    acoes.redimensionar = [this](int largura, int altura) { tamanhos.emplace_back(largura, altura); };
    std::string erro;
    janela = JanelaSdl::abrir(comum, estado, fila, std::move(acoes), erro);
    ASSERT_TRUE(janela) << erro;
  }

  // Runs the loop with each step on the main thread, 150 ms after the one before has
  // run (so the window has drawn in between); then the loop is told to quit, unless it
  // ended by itself.
  void rodar(std::vector<std::function<void()>> passos) {
    passos_ = std::move(passos);
    proximo_ = 0;
    fila.executarDepois(150ms, [this] { darPasso(); });
    janela->rodar();
  }

  EstadoTela estado;
  FilaPrincipal fila;
  std::unique_ptr<JanelaSdl> janela;
  int aberturas = 0;
  std::vector<std::pair<std::string, std::string>> confirmacoes;
  std::vector<std::pair<int, int>> tamanhos;
  bool fimForcado = false;

 private:
  void darPasso() {
    if (proximo_ < passos_.size()) {
      passos_[proximo_++]();
      fila.executarDepois(150ms, [this] { darPasso(); });
      return;
    }
    fimForcado = true;
    SDL_Event sair{};
    sair.type = SDL_QUIT;
    SDL_PushEvent(&sair);
  }

  std::vector<std::function<void()>> passos_;
  std::size_t proximo_ = 0;
};

const Rgb cinzaAviso{153, 153, 153};
bool vermelhoErro(Rgb c) {
  return perto(c, {255, 115, 102}, 2);
}
bool azulConectar(Rgb c) {
  return perto(c, {10, 117, 235}, 2);
}
bool verde(Rgb c) {
  return c == Rgb{0, 255, 0};
}
bool botaoAviso(Rgb c) {
  return perto(c, {92, 92, 92}, 3);
}

TEST_F(JanelaTeste, ANoticeIsGreyTextCentredWithItsButtonUnderneathThatOpensThePanelAndALineBreakMakesTwoLines) {
  ASSERT_NO_FATAL_FAILURE(abrir());
  Captura comBotao, duasLinhas, semAviso;
  rodar({
      [&] {
        estado.textoAviso = "Conexão perdida. Tentando de novo…";
        estado.botaoAvisoOculto = false;
      },
      [&] { comBotao = capturar(); },
      [&] {
        const auto linhas = comBotao.linhas(botaoAviso, 100);
        const auto colunas = linhas.empty() ? std::nullopt : comBotao.colunas(botaoAviso, linhas.front(), linhas.back());
        if (!colunas) return;
        xdotool("mousemove " + std::to_string((colunas->first + colunas->second) / 2) + " " +
                std::to_string((linhas.front() + linhas.back()) / 2) + " click 1");
      },
      [&] {
        estado.textoAviso = "Procurando o MacBook…\nAbra o Velaro nele.";
        estado.botaoAvisoOculto = true;
      },
      [&] { duasLinhas = capturar(); },
      [&] {
        estado.textoAviso.clear();
        estado.avisoOculto = true;
      },
      [&] { semAviso = capturar(); },
  });
  EXPECT_EQ(aberturas, 1);
  auto botao = comBotao.linhas(botaoAviso, 100);
  ASSERT_FALSE(botao.empty());
  // Above the button only the notice's text: neutral grey, 0.6 at its brightest.
  auto foraDoCinza = [](Rgb c) { return c.r != c.g || c.g != c.b || c.r > cinzaAviso.r; };
  EXPECT_FALSE(comBotao.colunas(foraDoCinza, 0, botao.front() - 1).has_value());
  auto texto = comBotao.linhas([](Rgb c) { return c == cinzaAviso; });
  std::erase_if(texto, [&](int y) { return y >= botao.front(); });
  ASSERT_FALSE(texto.empty());
  EXPECT_GT(botao.front(), texto.back() + 10) << "the button sits under the text, 20 points apart";
  EXPECT_LT(botao.front(), texto.back() + 40);

  // The button is a plain rectangle: its middle is the stack's.
  auto [esquerda, direita] = *comBotao.colunas(botaoAviso, botao.front(), botao.back());
  EXPECT_NEAR((esquerda + direita) / 2.0, 960, 1);
  EXPECT_NEAR((texto.front() + botao.back()) / 2, 540, 3);

  EXPECT_EQ(faixas(duasLinhas.linhas(cinzaNeutro)), 2);
  EXPECT_TRUE(duasLinhas.linhas(botaoAviso, 100).empty());
  EXPECT_FALSE(semAviso.colunas([](Rgb c) { return !preto(c); }).has_value());
}

TEST_F(JanelaTeste, ThePanelShowsTheErrorLineInRedBetweenTheFieldsAndConnectOnlyWhenSet) {
  ASSERT_NO_FATAL_FAILURE(abrir());
  Captura comErro, semErro;
  rodar({
      [&] {
        estado.pilhaAvisoOculta = true;
        estado.pareamentoOculto = false;
        estado.erroPareamento = "O código tem 6 dígitos.";
        estado.erroPareamentoOculto = false;
      },
      [&] { comErro = capturar(); },
      [&] { estado.erroPareamentoOculto = true; },
      [&] { semErro = capturar(); },
  });
  auto vermelho = comErro.linhas(vermelhoErro);
  auto azul = comErro.linhas(azulConectar, 40);
  ASSERT_FALSE(vermelho.empty());
  ASSERT_FALSE(azul.empty());
  // 28 points below the error line, the button.
  EXPECT_GE(azul.front() - vermelho.back(), 28);
  EXPECT_LE(azul.front() - vermelho.back(), 28 + 12);
  auto [esquerda, direita] =
      *comErro.colunas(azulConectar, azul.front(), azul.back());
  EXPECT_NEAR((esquerda + direita) / 2.0, 960, 1);
  // Glyphs are not symmetric in their boxes, so text is centred only roughly.
  auto erro = *comErro.colunas(vermelhoErro);
  EXPECT_NEAR((erro.first + erro.second) / 2.0, 960, 8);

  EXPECT_TRUE(semErro.linhas([](Rgb c) { return perto(c, {255, 115, 102}, 30); }).empty());
  auto azulSemErro = semErro.linhas(azulConectar, 40);
  ASSERT_FALSE(azulSemErro.empty());
  EXPECT_NE(azulSemErro.front(), azul.front()) << "the panel closes up around the hidden line";
}

TEST_F(JanelaTeste, TheRemotePointerFillsItsFrameWhoseOriginIsAtTheBottomLeft) {
  ASSERT_NO_FATAL_FAILURE(abrir());
  auto imagem = std::make_shared<ImagemCursor>(ImagemCursor{4, 4, {}});
  for (int i = 0; i < 16; ++i) imagem->rgba.insert(imagem->rgba.end(), {0, 255, 0, 255});
  Captura visivel, oculto;
  rodar({
      [&] {
        estado.avisoOculto = true;
        estado.imagemCursor = imagem;
        estado.quadroCursor = {100, 200, 40, 30};
        estado.cursorOculto = false;
      },
      [&] { visivel = capturar(); },
      [&] { estado.cursorOculto = true; },
      [&] { oculto = capturar(); },
  });
  // Pixel rows 200..229 from the bottom are rows 850..879 from the top.
  auto [esquerda, direita] = *visivel.colunas(verde);
  EXPECT_EQ(esquerda, 100);
  EXPECT_EQ(direita, 139);
  auto linhas = visivel.linhas(verde);
  EXPECT_EQ(linhas.front(), 850);
  EXPECT_EQ(linhas.back(), 879);
  EXPECT_EQ(linhas.size(), 30u);
  EXPECT_FALSE(oculto.colunas([](Rgb c) { return !preto(c); }).has_value());
}

TEST_F(JanelaTeste, TheKeyboardTypesTabsPastesConfirmsWithReturnAndEscapeEndsTheLoop) {
  ASSERT_NO_FATAL_FAILURE(abrir());
  auto mostrarPainel = [&] {
    estado.pilhaAvisoOculta = true;
    estado.pareamentoOculto = false;
    estado.focarCodigo = true;
  };
  rodar({
      mostrarPainel,
      // Sent while the loop is busy here, so all the keys arrive in one batch.
      [&] { xdotool("mousemove 20 20 type --delay 0 '123 456'"); },
      [&] { xdotool("key --delay 0 Tab type --delay 0 ' 10.0.0.2'"); },
      [&] { xdotool("key --delay 0 Return"); },
      [&] {
        SDL_SetClipboardText("654 321");
        mostrarPainel();
      },
      // Focusing the field selects its text, which the paste replaces.
      [&] { xdotool("key --delay 0 ctrl+v Return"); },
      [&] { xdotool("key Escape"); },
      [] {},
  });
  ASSERT_EQ(confirmacoes.size(), 2u);
  EXPECT_EQ(confirmacoes[0], std::make_pair(std::string("123 456"), std::string(" 10.0.0.2")));
  EXPECT_EQ(confirmacoes[1].first, "654 321");
  EXPECT_FALSE(estado.focarCodigo);
  EXPECT_FALSE(fimForcado);
}

TEST_F(JanelaTeste, OnlyAChangeOrTheVideosRequestDrawsAndAChangeWhileAPictureIsOnItsWayWaitsForItOrTheDeadline) {
  ASSERT_NO_FATAL_FAILURE(abrir());
  int quadros = 0;
  bool aCaminho = false;
  janela->aoApresentar([&quadros] { ++quadros; });
  janela->aoPerguntarImagemACaminho([&aCaminho] { return aCaminho; });
  std::vector<int> antes;
  std::optional<int> aoChegarImagem;
  std::chrono::steady_clock::duration ateImagem{};
  auto moverCursor = [&](double x) {
    estado.cursorOculto = false;
    estado.quadroCursor = Retangulo{x, 500, 32, 32};
  };
  rodar({
      [&] { antes.push_back(quadros); },
      [&] { antes.push_back(quadros); },
      [&] {
        antes.push_back(quadros);
        janela->pedirDesenho();
      },
      [&] {
        antes.push_back(quadros);
        estado.textoAviso = "Conectando…";
      },
      [&] {
        antes.push_back(quadros);
        aCaminho = true;
        moverCursor(100);
        // The picture arrives on the loop's next pass, well inside the wait.
        const auto movido = std::chrono::steady_clock::now();
        fila.executar([&, movido] {
          ateImagem = std::chrono::steady_clock::now() - movido;
          aoChegarImagem = quadros;
          janela->pedirDesenho();
        });
      },
      [&] {
        antes.push_back(quadros);
        moverCursor(200);
      },
      [&] {
        antes.push_back(quadros);
        aCaminho = false;
        moverCursor(300);
      },
      [&] { antes.push_back(quadros); },
  });
  ASSERT_EQ(antes.size(), 8u);
  EXPECT_GT(antes[0], 0) << "the first frames are drawn";
  EXPECT_EQ(antes[1], antes[0]) << "a task that changed nothing drew";
  EXPECT_EQ(antes[2], antes[1]);
  EXPECT_EQ(antes[3], antes[2] + 1) << "the video's request drew one frame";
  EXPECT_EQ(antes[4], antes[3] + 1) << "a changed notice drew one frame";
  ASSERT_TRUE(aoChegarImagem.has_value());
  if (ateImagem < JanelaSdl::esperaMaximaImagem) {
    EXPECT_EQ(*aoChegarImagem, antes[4]) << "the pointer was drawn before its picture came";
  }
  EXPECT_EQ(antes[5], antes[4] + 1) << "the pointer and its picture take one frame";
  EXPECT_EQ(antes[6], antes[5] + 1) << "a picture that never comes holds the pointer back only briefly";
  EXPECT_EQ(antes[7], antes[6] + 1) << "with nothing on its way the pointer is drawn";
}

TEST_F(JanelaTeste, AnOrdinaryWindowIsTwoThirdsOfTheScreenAndTheScreenIsStillReportedWhole) {
  ASSERT_NO_FATAL_FAILURE(abrir(true));
  rodar({[] {}});
  ASSERT_FALSE(tamanhos.empty());
  EXPECT_EQ(tamanhos.back(), std::make_pair(1280, 720));
  auto tela = janela->telaDoMonitor();
  ASSERT_TRUE(tela.has_value());
  EXPECT_EQ(tela->largura, 1920);
  EXPECT_EQ(tela->altura, 1080);
}

}  // namespace
}  // namespace orbelo
