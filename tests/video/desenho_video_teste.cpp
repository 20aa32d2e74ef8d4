// Pictures drawn by OpenGL in a window on the test X display and read back from its framebuffer,
// by either conversion path, and the timing trace the display layer keeps of each frame.
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

// The main queue as the display layer sees it: a task only wakes the loop, so tasks are just counted.
struct ExecutorContado : Executor {
  void executar(Tarefa) override { ++tarefas; }
  void executarDepois(Duracao, Tarefa) override {}
  bool atual() const override { return true; }
  std::atomic<int> tarefas = 0;
};

// A 200x96 borderless SDL window at the screen's top-left corner, with an OpenGL 3.3 core context.
class DesenhoVideoTeste : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    teste::prepararServicos();
    pasta = std::make_unique<teste::PastaTemporaria>();
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    pedirAtributosGl();
    janela = SDL_CreateWindow("teste", 0, 0, 200, 96, SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS);
    ASSERT_TRUE(janela) << SDL_GetError();
    contexto = SDL_GL_CreateContext(janela);
    ASSERT_TRUE(contexto) << SDL_GetError();
  }
  static void TearDownTestSuite() {
    SDL_GL_DeleteContext(contexto);
    SDL_DestroyWindow(janela);
    SDL_Quit();
    pasta.reset();
  }
  void SetUp() override { ASSERT_TRUE(contexto); }

  static inline std::unique_ptr<teste::PastaTemporaria> pasta;
  static inline SDL_Window* janela = nullptr;
  static inline SDL_GLContext contexto = nullptr;
};

// Four 50x48 blocks side by side over the same four in another order, converted from RGB by
// swscale with the given matrix and range, then encoded losslessly with the given tags.
struct CasoCor {
  const char *nome, *matriz, *faixa, *formato, *etiquetas;
};

class CoresTeste : public DesenhoVideoTeste, public ::testing::WithParamInterface<CasoCor> {};

// The CPU converts the picture a band of rows at a time; each band must take its own rows of
// every plane, chroma included. The shader must draw the same pixels.
TEST_P(CoresTeste, EveryRowKeepsItsSolidColourAsEncodedOnBothConversionPaths) {
  constexpr std::array<Rgb, 4> cores{Rgb{255, 128, 0}, Rgb{32, 96, 192}, Rgb{208, 64, 160}, Rgb{0, 0, 0}};
  constexpr std::array<const char*, 4> nomes{"0xFF8000", "0x2060C0", "0xD040A0", "0x000000"};
  std::string fonte;
  for (std::size_t i = 0; i < 8; ++i) {
    fonte += std::string("color=c=") + nomes[(i + i / 4) % 4] + ":s=50x48:r=30[c" + std::to_string(i) + "];";
  }
  const auto& caso = GetParam();
  const auto fluxo = teste::codificarVideo(
      *pasta,
      fonte + "[c0][c1][c2][c3]hstack=4[a];[c4][c5][c6][c7]hstack=4[b];[a][b]vstack=2," +
          "format=rgb24,scale=out_color_matrix=" + caso.matriz + ":out_range=" + caso.faixa +
          ",format=" + caso.formato,
      std::string("-frames:v 2 -qp 0 ") + caso.etiquetas);
  std::array<teste::Captura, 2> telas;  // bottom row first, as OpenGL reads them
  for (std::size_t caminho = 0; caminho < telas.size(); ++caminho) {
    setenv("ORBELO_CONVERSAO", caminho == 0 ? "cpu" : "gpu", 1);
    ExecutorContado principal;
    CamadaVideoGl camada(principal);
    camada.enfileirar(fluxo.amostra(0));
    camada.enfileirar(fluxo.amostra(1));
    ASSERT_TRUE(teste::esperar([&] { return !camada.imagemACaminho(); }));
    // Black first, so that a picture left undrawn shows.
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    camada.desenhar(200, 96);
    // The variable forces the path for the 4:2:0 pictures the shader takes; a shader that does
    // not build would leave both on the CPU.
    const bool naGpu = caminho == 1 && std::string_view(caso.formato) != "yuv444p";
    ASSERT_EQ(camada.resumo().conversao, naGpu ? "GPU (shader)" : "CPU");
    telas[caminho] = {200, 96, std::vector<std::uint8_t>(std::size_t{200} * 96 * 3)};
    glReadPixels(0, 0, 200, 96, GL_RGB, GL_UNSIGNED_BYTE, telas[caminho].rgb.data());
    for (int x = 0; x < 4; ++x) {
      for (int y : {0, 20, 33, 44, 51, 63, 64, 95}) {
        const Rgb obtido = telas[caminho].em(25 + 50 * x, 95 - y), esperado = cores[(x + y / 48) % 4];
        EXPECT_TRUE(teste::perto(obtido, esperado, 4))
            << teste::texto(obtido) << " for " << teste::texto(esperado) << " in block " << x << ", row " << y
            << ", path " << caminho;
      }
    }
  }
  unsetenv("ORBELO_CONVERSAO");
  // Inside the blocks, and at their edges, where the encoder blended colours and swscale's
  // fast converter, up to 2.5 off the exact values where the shader is within 1, drifts further.
  int dentro = 0, bordas = 0;
  for (int y = 0; y < 96; ++y) {
    for (int x = 0; x < 200; ++x) {
      const Rgb cpu = telas[0].em(x, y), gpu = telas[1].em(x, y);
      const int aqui = std::max({std::abs(cpu.r - gpu.r), std::abs(cpu.g - gpu.g), std::abs(cpu.b - gpu.b)});
      const bool borda = std::min(x % 50, 49 - x % 50) < 3 || std::min(y % 48, 47 - y % 48) < 3;
      (borda ? bordas : dentro) = std::max(borda ? bordas : dentro, aqui);
    }
  }
  std::printf("%s: shader against CPU, largest difference %d inside the blocks, %d at their edges\n",
              caso.nome, dentro, bordas);
  EXPECT_LE(dentro, 2);
  EXPECT_LE(bordas, 4);
}

INSTANTIATE_TEST_SUITE_P(
    DesenhoVideo, CoresTeste,
    ::testing::Values(
        CasoCor{"Bt709Limited", "bt709", "tv", "yuv420p", "-colorspace bt709 -color_range tv"},
        CasoCor{"Bt709Full", "bt709", "pc", "yuv420p", "-colorspace bt709 -color_range pc"},
        CasoCor{"Bt470bgFullAsYuvj", "bt470bg", "pc", "yuvj420p", "-colorspace bt470bg"},
        CasoCor{"Smpte170mLimited", "smpte170m", "tv", "yuv420p", "-colorspace smpte170m -color_range tv"},
        CasoCor{"Bt2020Limited", "bt2020", "tv", "yuv420p", "-colorspace bt2020nc -color_range tv"},
        CasoCor{"Bt2020Full", "bt2020", "pc", "yuv420p", "-colorspace bt2020nc -color_range pc"},
        CasoCor{"UntaggedReadsAsBt709Limited", "bt709", "tv", "yuv420p", ""},
        CasoCor{"Yuv444Bt709Limited", "bt709", "tv", "yuv444p", "-colorspace bt709 -color_range tv"}),
    [](const auto& info) { return std::string(info.param.nome); });

// The sample number travels with the picture from the decoder thread to the screen, so
// each row shown is the frame that was drawn; superseded pictures are never shown. A new
// picture wakes the main thread once, however many replace it before it is drawn. The
// live summary counts the superseded ones as skipped and forgets frames past its window.
TEST_F(DesenhoVideoTeste, TheTraceHoldsEveryDecodedFrameAndEachNewPictureOnScreenOnce) {
  const auto fluxo = teste::codificarVideo(*pasta, "testsrc2=size=160x120:rate=30", "-frames:v 5");
  const auto arquivo = *pasta / "rastro.csv";
  MedicaoQuadros medicao(arquivo);
  long long antesDoRedesenho = 0;  // in nanoseconds of the monotonic clock, as the trace
  {
    ExecutorContado principal;
    CamadaVideoGl camada(principal, &medicao);
    camada.medirAoVivo(true);
    std::size_t enviadas = 0;
    // Frames 0-2 drawn, then 3-4, then a redraw with nothing new.
    for (const auto& [ate, nova] : {std::pair<std::size_t, bool>{3, true}, {5, true}, {5, false}}) {
      for (; enviadas < ate; ++enviadas) {
        camada.enfileirar(fluxo.amostra(enviadas));
      }
      ASSERT_TRUE(teste::esperar([&] { return !camada.imagemACaminho(); }));
      EXPECT_EQ(camada.mudou(), nova);
      antesDoRedesenho =
          std::chrono::nanoseconds(std::chrono::steady_clock::now().time_since_epoch()).count();
      std::this_thread::sleep_for(1ms);
      camada.desenhar(64, 64);
      camada.apresentado();
    }
    EXPECT_EQ(principal.tarefas, 2);
    const ResumoVideo resumo = camada.resumo();
    EXPECT_EQ(resumo.pulados, 3);
    // Two pictures shown since measuring began, well under the window's 3 s ago.
    EXPECT_GT(resumo.quadrosMostradosPorSegundo, 2.0 / 3);
    // Each a span between two of a frame's times, so never negative.
    EXPECT_TRUE(resumo.decodificacaoP50Ms >= 0.0 && resumo.chegadaATelaP50Ms >= 0.0 &&
                resumo.chegadaATelaP50Ms <= resumo.chegadaATelaP99Ms);
    EXPECT_EQ(resumo.conversao, "CPU") << "llvmpipe, the test display's renderer, is no GPU";
    EXPECT_EQ(medicao.resumo(std::chrono::steady_clock::now() + 4s), ResumoVideo{});
  }
  ASSERT_TRUE(medicao.gravar());

  std::ifstream rastro(arquivo);
  std::string linha;
  std::getline(rastro, linha);  // the header
  long long i = 0;
  for (; std::getline(rastro, linha); ++i) {
    const auto apresentado = linha.substr(linha.rfind(',') + 1);  // empty for a frame never shown
    EXPECT_EQ(apresentado.empty(), i != 2 && i != 4) << linha;
    // Shown once: the redraw did not move the time the last picture reached the screen.
    EXPECT_TRUE(i != 4 || std::stoll(apresentado) < antesDoRedesenho);
  }
  EXPECT_EQ(i, 5);
}

}  // namespace
}  // namespace orbelo
