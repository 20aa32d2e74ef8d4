#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <string>

#include "receptor/plataforma/video/DesenhoVideo.hpp"
#include "video/FluxoH264.hpp"

namespace orbelo {
namespace {

using Rgb = std::array<int, 3>;

constexpr Rgb preto{0, 0, 0};

Rgb rgb(std::uint32_t cor) {
  return {int(cor >> 16 & 0xFF), int(cor >> 8 & 0xFF), int(cor & 0xFF)};
}

::testing::AssertionResult perto(const Rgb& obtido, const Rgb& esperado) {
  for (int i = 0; i < 3; ++i) {
    if (std::abs(obtido[i] - esperado[i]) > 4) {
      return ::testing::AssertionFailure() << "got " << ::testing::PrintToString(obtido) << ", expected "
                                           << ::testing::PrintToString(esperado);
    }
  }
  return ::testing::AssertionSuccess();
}

struct DestruirJanela {
  void operator()(SDL_Window* janela) const { SDL_DestroyWindow(janela); }
};
struct DestruirContexto {
  void operator()(void* contexto) const { SDL_GL_DeleteContext(contexto); }
};

// A hidden SDL window with an OpenGL 3.3 core context on the test X display
// (scripts/servicos-teste.sh starts it and prints DISPLAY).
class DesenhoVideoTeste : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pasta = std::make_unique<teste::PastaTemporaria>();
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run scripts/servicos-teste.sh and export DISPLAY";
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    janela.reset(SDL_CreateWindow("teste", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN));
    ASSERT_TRUE(janela) << SDL_GetError();
    contexto.reset(SDL_GL_CreateContext(janela.get()));
    ASSERT_TRUE(contexto) << SDL_GetError();
    // Drawing goes to an off-screen target large enough for every case.
    glGenRenderbuffers(1, &memoria);
    glBindRenderbuffer(GL_RENDERBUFFER, memoria);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, 640, 480);
    glGenFramebuffers(1, &alvo);
    glBindFramebuffer(GL_FRAMEBUFFER, alvo);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, memoria);
    ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum{GL_FRAMEBUFFER_COMPLETE});
  }
  static void TearDownTestSuite() {
    glDeleteFramebuffers(1, &alvo);
    glDeleteRenderbuffers(1, &memoria);
    contexto.reset();
    janela.reset();
    SDL_Quit();
    pasta.reset();
  }

  void SetUp() override {
    ASSERT_TRUE(contexto);
    desenho = std::make_unique<DesenhoVideo>(camada);
  }

  // Decodes every frame of `fluxo` and waits until the last one waits for the screen.
  void mostrar(const teste::FluxoH264& fluxo) {
    const auto esperadas = camada.decodificadas() + fluxo.quadros.size();
    for (std::size_t i = 0; i < fluxo.quadros.size(); ++i) {
      camada.enfileirar(fluxo.amostra(i));
    }
    ASSERT_TRUE(teste::esperar([&] { return camada.decodificadas() >= esperadas; }))
        << camada.erro().value_or("");
  }

  // The pixel at (x, y) of a viewport `altura` high, with y from the top.
  static Rgb pixel(int x, int y, int altura) {
    std::array<std::uint8_t, 4> rgba{};
    glReadPixels(x, altura - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return {rgba[0], rgba[1], rgba[2]};
  }

  static inline std::unique_ptr<teste::PastaTemporaria> pasta;
  static inline std::unique_ptr<SDL_Window, DestruirJanela> janela;
  static inline GLuint memoria = 0;
  static inline GLuint alvo = 0;
  static inline std::unique_ptr<void, DestruirContexto> contexto;

  DecodificadorVideo camada{[] {}};
  std::unique_ptr<DesenhoVideo> desenho;
};

// Four 50x50 blocks side by side, converted from RGB by swscale with the given
// matrix and range, then encoded losslessly with the given tags.
struct CasoCor {
  const char* nome;
  const char* matrizConversao;
  const char* faixaConversao;
  const char* formato;
  const char* etiquetas;
};

void PrintTo(const CasoCor& caso, std::ostream* saida) {
  *saida << caso.nome;
}

constexpr std::array<std::uint32_t, 4> cores{0xFF8000, 0x2060C0, 0xD040A0, 0x000000};

std::string fonteCor(std::uint32_t cor, const char* tamanho) {
  char nome[16];
  std::snprintf(nome, sizeof nome, "0x%06X", cor);
  return std::string("color=c=") + nome + ":s=" + tamanho + ":r=30";
}

// A solid colour as an untagged BT.709 limited-range picture.
std::string corSolida(std::uint32_t cor, const char* tamanho) {
  return fonteCor(cor, tamanho) + ",format=rgb24,scale=out_color_matrix=bt709:out_range=tv,format=yuv420p";
}

class CoresTeste : public DesenhoVideoTeste, public ::testing::WithParamInterface<CasoCor> {};

TEST_P(CoresTeste, SolidColoursComeBackAsEncoded) {
  const CasoCor& caso = GetParam();
  std::string fonte;
  for (std::size_t i = 0; i < cores.size(); ++i) {
    fonte += fonteCor(cores[i], "50x50") + "[c" + std::to_string(i) + "];";
  }
  fonte += std::string("[c0][c1][c2][c3]hstack=4,format=rgb24,scale=out_color_matrix=") +
           caso.matrizConversao + ":out_range=" + caso.faixaConversao + ",format=" + caso.formato;
  const auto fluxo = teste::codificar(*pasta, fonte, std::string("-frames:v 2 -qp 0 ") + caso.etiquetas);
  ASSERT_NO_FATAL_FAILURE(mostrar(fluxo));

  ASSERT_TRUE(desenho->desenhar(200, 50));
  for (std::size_t i = 0; i < cores.size(); ++i) {
    EXPECT_TRUE(perto(pixel(25 + 50 * static_cast<int>(i), 25, 50), rgb(cores[i]))) << "colour " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    DesenhoVideo, CoresTeste,
    ::testing::Values(
        CasoCor{"Bt709Limited", "bt709", "tv", "yuv420p", "-colorspace bt709 -color_range tv"},
        CasoCor{"Bt709Full", "bt709", "pc", "yuv420p", "-colorspace bt709 -color_range pc"},
        CasoCor{"Bt470bgFullAsYuvj", "bt470bg", "pc", "yuvj420p", "-colorspace bt470bg"},
        CasoCor{"Smpte170mLimited", "smpte170m", "tv", "yuv420p", "-colorspace smpte170m -color_range tv"},
        CasoCor{"UntaggedReadsAsBt709Limited", "bt709", "tv", "yuv420p", ""},
        CasoCor{"Yuv444Bt709Limited", "bt709", "tv", "yuv444p", "-colorspace bt709 -color_range tv"}),
    [](const auto& info) { return std::string(info.param.nome); });

// The picture is converted a band of rows at a time; each band must take its own
// rows of every plane, chroma included.
TEST_F(DesenhoVideoTeste, EveryRowKeepsItsColourAcrossTheBandsThePictureIsConvertedIn) {
  const auto fluxo = teste::codificar(
      *pasta,
      fonteCor(0xFF8000, "64x48") + "[a];" + fonteCor(0x2060C0, "64x48") +
          "[b];[a][b]vstack=2,format=rgb24,scale=out_color_matrix=bt709:out_range=tv,format=yuv420p",
      "-frames:v 2 -qp 0 -colorspace bt709 -color_range tv");
  ASSERT_NO_FATAL_FAILURE(mostrar(fluxo));
  ASSERT_TRUE(desenho->desenhar(64, 96));
  for (int y : {0, 20, 33, 44}) {
    EXPECT_TRUE(perto(pixel(32, y, 96), rgb(0xFF8000))) << "row " << y;
  }
  for (int y : {51, 63, 64, 95}) {
    EXPECT_TRUE(perto(pixel(32, y, 96), rgb(0x2060C0))) << "row " << y;
  }
}

TEST_F(DesenhoVideoTeste, APictureIsFittedBetweenBlackBarsAndRedrawnUntilReplacedOrRemoved) {
  EXPECT_FALSE(desenho->desenhar(640, 240));
  EXPECT_TRUE(perto(pixel(320, 120, 240), preto));

  // 4:3 in 640x240: the picture spans columns 160 to 479, drawn again with nothing new.
  ASSERT_NO_FATAL_FAILURE(
      mostrar(teste::codificar(*pasta, corSolida(0xFF8000, "320x240"), "-frames:v 1 -qp 0")));
  ASSERT_TRUE(desenho->desenhar(640, 240));
  camada.descarregar();
  ASSERT_TRUE(desenho->desenhar(640, 240));
  for (int y : {0, 239}) {
    EXPECT_TRUE(perto(pixel(159, y, 240), preto));
    EXPECT_TRUE(perto(pixel(160, y, 240), rgb(0xFF8000)));
    EXPECT_TRUE(perto(pixel(479, y, 240), rgb(0xFF8000)));
    EXPECT_TRUE(perto(pixel(480, y, 240), preto));
  }

  // A new size: 8:3 in 640x480 spans rows 120 to 359.
  ASSERT_NO_FATAL_FAILURE(
      mostrar(teste::codificar(*pasta, corSolida(0x2060C0, "320x120"), "-frames:v 1 -qp 0")));
  ASSERT_TRUE(desenho->desenhar(640, 480));
  for (int x : {0, 639}) {
    EXPECT_TRUE(perto(pixel(x, 119, 480), preto));
    EXPECT_TRUE(perto(pixel(x, 120, 480), rgb(0x2060C0)));
    EXPECT_TRUE(perto(pixel(x, 359, 480), rgb(0x2060C0)));
    EXPECT_TRUE(perto(pixel(x, 360, 480), preto));
  }

  camada.descarregarERemoverImagem();
  EXPECT_FALSE(desenho->desenhar(640, 480));
  EXPECT_TRUE(perto(pixel(320, 240, 480), preto));
}

}  // namespace
}  // namespace orbelo
