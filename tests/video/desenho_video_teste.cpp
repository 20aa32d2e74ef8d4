// Pictures drawn by OpenGL into an off-screen target on the test X display and read back,
// and the timing trace the display layer keeps of each frame.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <fstream>

#include "apoio/Tela.hpp"
#include "receptor/plataforma/janela/AtributosGl.hpp"
#include "receptor/plataforma/video/CamadaVideoGl.hpp"
#include "receptor/plataforma/video/MedicaoQuadros.hpp"
#include "video/Fluxo.hpp"

namespace orbelo {
namespace {

using namespace std::chrono_literals;
using teste::Rgb;

std::string fonteCor(Rgb cor, const char* tamanho) {
  char nome[16];
  std::snprintf(nome, sizeof nome, "0x%02X%02X%02X", cor.r, cor.g, cor.b);
  return std::string("color=c=") + nome + ":s=" + tamanho + ":r=30";
}

// The main queue as the display layer sees it: a task only wakes the loop, so tasks are just counted.
struct FilaContada : Fila {
  void executar(Tarefa) override { ++tarefas; }
  void executarDepois(Duracao, Tarefa) override {}
  bool atual() const override { return true; }
  std::atomic<int> tarefas = 0;
};

// A hidden SDL window with an OpenGL 3.3 core context, drawing to a 640x480 off-screen target.
class DesenhoVideoTeste : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    teste::prepararServicos();
    pasta = std::make_unique<teste::PastaTemporaria>();
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    pedirAtributosGl();
    janela = SDL_CreateWindow("teste", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    ASSERT_TRUE(janela) << SDL_GetError();
    contexto = SDL_GL_CreateContext(janela);
    ASSERT_TRUE(contexto) << SDL_GetError();
    glGenRenderbuffers(1, &memoria);
    glBindRenderbuffer(GL_RENDERBUFFER, memoria);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, 640, 480);
    glGenFramebuffers(1, &alvo);
    glBindFramebuffer(GL_FRAMEBUFFER, alvo);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, memoria);
    ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum{GL_FRAMEBUFFER_COMPLETE});
  }
  static void TearDownTestSuite() {
    SDL_GL_DeleteContext(contexto);
    SDL_DestroyWindow(janela);
    SDL_Quit();
    pasta.reset();
  }
  void SetUp() override { ASSERT_TRUE(contexto); }

  // Decodes every frame of a stream and waits until the last one waits for the screen.
  void mostrar(const std::string& fonte, const std::string& opcoes) {
    const auto fluxo = teste::codificarVideo(*pasta, fonte, opcoes);
    for (std::size_t i = 0; i < fluxo.quadros.size(); ++i) camada.enfileirar(fluxo.amostra(i));
    ASSERT_TRUE(teste::esperar([&] { return !camada.imagemACaminho(); }));
    ASSERT_EQ(camada.status(), CamadaVideo::Status::normal) << camada.erro().value_or("");
  }

  // The pixel at (x, y) of a viewport `altura` high, with y from the top.
  static Rgb pixel(int x, int y, int altura) {
    std::array<std::uint8_t, 4> rgba{};
    glReadPixels(x, altura - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return {rgba[0], rgba[1], rgba[2]};
  }

  static inline std::unique_ptr<teste::PastaTemporaria> pasta;
  static inline SDL_Window* janela = nullptr;
  static inline SDL_GLContext contexto = nullptr;
  static inline GLuint memoria = 0, alvo = 0;

  FilaContada principal;
  CamadaVideoGl camada{principal};
};

// Four 50x48 blocks side by side over the same four in another order, converted from RGB by
// swscale with the given matrix and range, then encoded losslessly with the given tags.
struct CasoCor {
  const char *nome, *matriz, *faixa, *formato, *etiquetas;
};

class CoresTeste : public DesenhoVideoTeste, public ::testing::WithParamInterface<CasoCor> {};

// The picture is converted a band of rows at a time; each band must take its own rows of
// every plane, chroma included.
TEST_P(CoresTeste, EveryRowKeepsItsSolidColourAsEncodedAcrossTheConversionBands) {
  constexpr std::array<Rgb, 4> cores{Rgb{255, 128, 0}, Rgb{32, 96, 192}, Rgb{208, 64, 160}, Rgb{0, 0, 0}};
  std::string fonte;
  for (std::size_t i = 0; i < 8; ++i)
    fonte += fonteCor(cores[(i + i / 4) % 4], "50x48") + "[c" + std::to_string(i) + "];";
  const auto& caso = GetParam();
  ASSERT_NO_FATAL_FAILURE(
      mostrar(fonte + "[c0][c1][c2][c3]hstack=4[a];[c4][c5][c6][c7]hstack=4[b];[a][b]vstack=2," +
                  "format=rgb24,scale=out_color_matrix=" + caso.matriz + ":out_range=" + caso.faixa +
                  ",format=" + caso.formato,
              std::string("-frames:v 2 -qp 0 ") + caso.etiquetas));
  camada.desenhar(200, 96);
  for (int x = 0; x < 4; ++x) {
    for (int y : {0, 20, 33, 44, 51, 63, 64, 95}) {
      const Rgb obtido = pixel(25 + 50 * x, y, 96), esperado = cores[(x + y / 48) % 4];
      EXPECT_TRUE(teste::perto(obtido, esperado, 4))
          << teste::texto(obtido) << " for " << teste::texto(esperado) << " in block " << x << ", row " << y;
    }
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

// The sample number travels with the picture from the decoder thread to the screen, so
// each row shown is the frame that was drawn; superseded pictures are never shown. A new
// picture wakes the main thread once, however many replace it before it is drawn.
TEST_F(DesenhoVideoTeste, TheTraceHoldsEveryDecodedFrameAndEachNewPictureOnScreenOnce) {
  const auto fluxo = teste::codificarVideo(*pasta, "testsrc2=size=160x120:rate=30", "-frames:v 5");
  const auto arquivo = *pasta / "rastro.csv";
  MedicaoQuadros medicao(arquivo);
  std::chrono::steady_clock::time_point antesDoRedesenho;
  {
    FilaContada principal;
    CamadaVideoGl camada(principal, &medicao);
    std::size_t enviadas = 0;
    // Frames 0-2 drawn, then 3-4, then a redraw with nothing new.
    for (const auto& [ate, nova] : {std::pair<std::size_t, bool>{3, true}, {5, true}, {5, false}}) {
      for (; enviadas < ate; ++enviadas) camada.enfileirar(fluxo.amostra(enviadas));
      ASSERT_TRUE(teste::esperar([&] { return !camada.imagemACaminho(); }));
      EXPECT_EQ(camada.mudou(), nova);
      antesDoRedesenho = std::chrono::steady_clock::now();
      std::this_thread::sleep_for(1ms);
      camada.desenhar(64, 64);
      camada.apresentado();
    }
    EXPECT_EQ(principal.tarefas, 2);
  }
  ASSERT_TRUE(medicao.gravar());

  std::ifstream rastro(arquivo);
  std::string linha;
  std::getline(rastro, linha);
  EXPECT_EQ(linha, "quadro,chegada_ns,inicio_decodificacao_ns,fim_decodificacao_ns,apresentado_ns");
  long long i = 0;
  for (; std::getline(rastro, linha); ++i) {
    long long quadro = -1, chegada = 0, inicio = 0, fim = 0, apresentado = -1;
    std::sscanf(linha.c_str(), "%lld,%lld,%lld,%lld,%lld", &quadro, &chegada, &inicio, &fim, &apresentado);
    EXPECT_EQ(quadro, i);
    EXPECT_TRUE(chegada <= inicio && inicio <= fim) << linha;
    EXPECT_EQ(apresentado >= 0, i == 2 || i == 4) << linha;
    EXPECT_TRUE(apresentado < 0 || apresentado >= fim) << linha;
    // Shown once: the redraw did not move the time the last picture reached the screen.
    EXPECT_TRUE(i != 4 ||
                apresentado < std::chrono::nanoseconds(antesDoRedesenho.time_since_epoch()).count());
  }
  EXPECT_EQ(i, 5);
}

}  // namespace
}  // namespace orbelo
