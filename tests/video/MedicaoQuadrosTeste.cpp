#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "receptor/plataforma/video/DesenhoVideo.hpp"
#include "receptor/plataforma/video/MedicaoQuadros.hpp"
#include "video/FluxoH264.hpp"

namespace orbelo {
namespace {

using namespace std::chrono_literals;
using Instante = MedicaoQuadros::Instante;

struct Linha {
  long long quadro;
  long long chegada;
  long long inicio;
  long long fim;
  std::optional<long long> apresentado;
};

// The rows of a trace file, after checking its header.
std::vector<Linha> lerRastro(const std::filesystem::path& arquivo) {
  std::ifstream entrada(arquivo);
  std::string texto;
  std::getline(entrada, texto);
  EXPECT_EQ(texto, "quadro,chegada_ns,inicio_decodificacao_ns,fim_decodificacao_ns,apresentado_ns");
  std::vector<Linha> linhas;
  while (std::getline(entrada, texto)) {
    std::vector<std::string> campos;
    std::stringstream partes(texto);
    for (std::string campo; std::getline(partes, campo, ',');) {
      campos.push_back(campo);
    }
    if (campos.size() == 4) {
      campos.emplace_back();
    }
    EXPECT_EQ(campos.size(), 5u) << texto;
    if (campos.size() != 5) {
      continue;
    }
    linhas.push_back({std::stoll(campos[0]), std::stoll(campos[1]), std::stoll(campos[2]),
                      std::stoll(campos[3]),
                      campos[4].empty() ? std::nullopt : std::optional(std::stoll(campos[4]))});
  }
  return linhas;
}

Instante em(std::chrono::nanoseconds desde) {
  return Instante{desde};
}

TEST(MedicaoQuadros, RowsComeOutInFrameOrderWithTheFirstShowingOnlyAndNothingPastTheLimit) {
  teste::PastaTemporaria pasta;
  MedicaoQuadros medicao(pasta / "rastro.csv", 4);
  medicao.decodificado(1, em(10ns), em(20ns), em(30ns));
  medicao.decodificado(0, em(1ns), em(2ns), em(3ns));
  medicao.decodificado(3, em(100ns), em(200ns), em(300ns));
  medicao.decodificado(4, em(1000ns), em(2000ns), em(3000ns));  // past the limit of 4 rows
  medicao.apresentado(1, em(40ns));
  medicao.apresentado(1, em(50ns));  // drawn again for a pointer move
  medicao.apresentado(2, em(60ns));  // never decoded
  medicao.apresentado(7, em(70ns));
  ASSERT_TRUE(medicao.gravar());

  const auto linhas = lerRastro(pasta / "rastro.csv");
  ASSERT_EQ(linhas.size(), 3u);
  EXPECT_EQ(linhas[0].quadro, 0);
  EXPECT_EQ(linhas[0].apresentado, std::nullopt);
  EXPECT_EQ(linhas[1].quadro, 1);
  EXPECT_EQ(linhas[1].chegada, 10);
  EXPECT_EQ(linhas[1].inicio, 20);
  EXPECT_EQ(linhas[1].fim, 30);
  EXPECT_EQ(linhas[1].apresentado, 40);
  EXPECT_EQ(linhas[2].quadro, 3);
  EXPECT_EQ(linhas[2].apresentado, std::nullopt);
}

TEST(MedicaoQuadros, AFileThatCannotBeWrittenIsReportedAsSuch) {
  MedicaoQuadros medicao("/nonexistent-folder/rastro.csv");
  medicao.decodificado(0, em(1ns), em(2ns), em(3ns));
  EXPECT_FALSE(medicao.gravar());
}

struct DestruirJanela {
  void operator()(SDL_Window* janela) const { SDL_DestroyWindow(janela); }
};
struct DestruirContexto {
  void operator()(void* contexto) const { SDL_GL_DeleteContext(contexto); }
};

// Through the real display layer: the sample number travels with the picture from the
// decoder thread to the screen, so that each shown row is the frame that was drawn.
TEST(MedicaoQuadros, TheDisplayLayerTracesEveryDecodedFrameAndEachNewPictureOnScreenOnce) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run scripts/servicos-teste.sh and export DISPLAY";
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  std::unique_ptr<SDL_Window, DestruirJanela> janela(
      SDL_CreateWindow("teste", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN));
  ASSERT_TRUE(janela) << SDL_GetError();
  std::unique_ptr<void, DestruirContexto> contexto(SDL_GL_CreateContext(janela.get()));
  ASSERT_TRUE(contexto) << SDL_GetError();

  teste::PastaTemporaria pasta;
  const auto fluxo = teste::codificar(pasta, "testsrc2=size=160x120:rate=30", "-frames:v 5");
  ASSERT_EQ(fluxo.quadros.size(), 5u);
  MedicaoQuadros medicao(pasta / "rastro.csv");
  Instante antesDoRedesenho;
  {
    DecodificadorVideo camada([] {}, &medicao);
    DesenhoVideo desenho(camada, &medicao);
    auto mostrarAte = [&](std::size_t de, std::size_t ate) {
      for (std::size_t i = de; i < ate; ++i) {
        Amostra amostra = fluxo.amostra(i);
        amostra.chegada = std::chrono::steady_clock::now();
        camada.enfileirar(std::move(amostra));
      }
      ASSERT_TRUE(teste::esperar([&] { return camada.decodificadas() >= ate; }));
      // Only the newest of the pictures decoded meanwhile reaches the screen.
      ASSERT_TRUE(desenho.desenhar(64, 64));
      desenho.apresentado();
    };
    ASSERT_NO_FATAL_FAILURE(mostrarAte(0, 3));
    ASSERT_NO_FATAL_FAILURE(mostrarAte(3, 5));
    // Drawn again with nothing new: no frame reaches the screen a second time.
    antesDoRedesenho = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(desenho.desenhar(64, 64));
    desenho.apresentado();
  }
  contexto.reset();
  janela.reset();
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  ASSERT_TRUE(medicao.gravar());

  const auto linhas = lerRastro(pasta / "rastro.csv");
  ASSERT_EQ(linhas.size(), 5u);
  for (std::size_t i = 0; i < linhas.size(); ++i) {
    EXPECT_EQ(linhas[i].quadro, static_cast<long long>(i));
    EXPECT_LE(linhas[i].chegada, linhas[i].inicio) << "frame " << i;
    EXPECT_LE(linhas[i].inicio, linhas[i].fim) << "frame " << i;
    EXPECT_EQ(linhas[i].apresentado.has_value(), i == 2 || i == 4) << "frame " << i;
    if (linhas[i].apresentado) {
      EXPECT_GE(*linhas[i].apresentado, linhas[i].fim) << "frame " << i;
    }
  }
  // Shown once: the redraw did not move the time the last picture reached the screen.
  EXPECT_LT(
      *linhas[4].apresentado,
      std::chrono::duration_cast<std::chrono::nanoseconds>(antesDoRedesenho.time_since_epoch()).count());
}

}  // namespace
}  // namespace orbelo
