#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "receptor/plataforma/video/DecodificadorVideo.hpp"
#include "video/FluxoH264.hpp"

namespace orbelo {
namespace {

using namespace std::chrono_literals;
using Novidade = ImagemMaisNova::Novidade;
using Status = CamadaVideo::Status;

using teste::esperar;

// Real streams, made once, with key frames every 10 frames.
class DecodificadorVideoTeste : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pasta = std::make_unique<teste::PastaTemporaria>();
    pequeno =
        teste::codificar(*pasta, "testsrc2=size=320x240:rate=30", "-frames:v 30 -x264-params keyint=10");
    grande = teste::codificar(*pasta, "testsrc2=size=640x360:rate=30", "-frames:v 10 -x264-params keyint=10");
  }
  static void TearDownTestSuite() { pasta.reset(); }

  static void enfileirar(DecodificadorVideo& destino, const teste::FluxoH264& fluxo, std::size_t de,
                         std::size_t ate) {
    for (std::size_t i = de; i < ate; ++i) {
      destino.enfileirar(fluxo.amostra(i));
    }
  }
  bool esperarDecodificadas(std::uint64_t quantas) {
    return esperar([&] { return camada.decodificadas() >= quantas; });
  }

  static inline std::unique_ptr<teste::PastaTemporaria> pasta;
  static inline teste::FluxoH264 pequeno;
  static inline teste::FluxoH264 grande;

  std::atomic<int> avisos = 0;
  DecodificadorVideo camada{[this] { ++avisos; }};
  Quadro quadro{av_frame_alloc()};
};

TEST_F(DecodificadorVideoTeste, AStreamNobodyWatchesLeavesOnlyItsLastFrameExactlyAsFfmpegDecodesIt) {
  ASSERT_EQ(pequeno.quadros.size(), 30u);
  enfileirar(camada, pequeno, 0, 30);
  ASSERT_TRUE(esperarDecodificadas(30));
  EXPECT_EQ(camada.status(), Status::normal);
  EXPECT_EQ(camada.erro(), std::nullopt);
  // One wake-up: the screen was told once and every later picture replaced the waiting one.
  EXPECT_EQ(avisos, 1);
  EXPECT_EQ(camada.puladas(), 29u);

  ASSERT_EQ(camada.tomarImagem(*quadro), Novidade::nova);
  EXPECT_EQ(camada.tomarImagem(*quadro), Novidade::nenhuma);
  ASSERT_EQ(quadro->width, 320);
  ASSERT_EQ(quadro->height, 240);
  const auto referencia = (*pasta) / "referencia.yuv";
  teste::executarFfmpeg("-i '" + pequeno.arquivo.string() + "' -f rawvideo -pix_fmt yuv420p", referencia);
  const Bytes todos = teste::lerArquivo(referencia);
  const std::size_t tamanhoQuadro = 320 * 240 * 3 / 2;
  ASSERT_EQ(todos.size(), 30 * tamanhoQuadro);
  for (std::ptrdiff_t linha = 0; linha < 240; ++linha) {
    ASSERT_EQ(0, std::memcmp(quadro->data[0] + linha * quadro->linesize[0],
                             todos.data() + 29 * tamanhoQuadro + linha * 320, 320))
        << linha;
  }

  // Once the screen has taken the picture, the next one wakes it again.
  camada.enfileirar(pequeno.amostra(0));
  ASSERT_TRUE(esperarDecodificadas(31));
  EXPECT_EQ(avisos, 2);
}

TEST_F(DecodificadorVideoTeste, EachBadSampleFailsTheLayerWithATextAndAFlushThenAKeyFrameRecovers) {
  const Bytes& quadro1 = pequeno.quadros[1].dados;
  const auto falso =
      std::make_shared<FormatoVideo>(FormatoVideo{{0x67, 0xFF, 0xFF, 0xFF, 0xFF}, {0x68, 0xFF}});
  const std::vector<std::pair<const char*, Amostra>> ruins{
      {"length past the end", {pequeno.formato, {0x00, 0x00, 0x10, 0x00, 0x41, 0x9A, 0x02}}},
      {"frame cut short",
       {pequeno.formato, Bytes(quadro1.begin(), quadro1.begin() + std::ptrdiff_t(quadro1.size() / 2))}},
      {"empty", {pequeno.formato, {}}},
      {"no format", {nullptr, pequeno.quadros[0].dados}},
      {"parameter sets that are no H.264", {falso, pequeno.quadros[0].dados}},
  };
  std::uint64_t decodificadas = 0;
  for (const auto& [nome, ruim] : ruins) {
    SCOPED_TRACE(nome);
    enfileirar(camada, pequeno, 0, 2);
    ASSERT_TRUE(esperarDecodificadas(decodificadas += 2));
    camada.enfileirar(ruim);
    ASSERT_TRUE(esperar([&] { return camada.status() == Status::falhou; }));
    EXPECT_FALSE(camada.erro().value_or("").empty());

    // Frames after the broken one wait for the flush, which drops them.
    enfileirar(camada, pequeno, 2, 5);
    camada.descarregar();
    EXPECT_EQ(camada.status(), Status::normal);
    EXPECT_EQ(camada.erro(), std::nullopt);
    enfileirar(camada, pequeno, 10, 13);
    ASSERT_TRUE(esperarDecodificadas(decodificadas += 3));
    EXPECT_EQ(camada.decodificadas(), decodificadas);
    EXPECT_EQ(camada.status(), Status::normal);
  }

  camada.enfileirar(ruins[0].second);
  ASSERT_TRUE(esperar([&] { return camada.status() == Status::falhou; }));
  EXPECT_EQ(camada.erro(), "Invalid data found when processing input");
}

TEST_F(DecodificadorVideoTeste, ANewFormatReopensTheDecoderAtTheNewSize) {
  enfileirar(camada, pequeno, 0, 5);
  enfileirar(camada, grande, 0, 10);
  ASSERT_TRUE(esperarDecodificadas(15));
  ASSERT_EQ(camada.tomarImagem(*quadro), Novidade::nova);
  EXPECT_EQ(quadro->width, 640);
  EXPECT_EQ(quadro->height, 360);

  // And back, with a fresh copy of the first format.
  const auto copia = std::make_shared<FormatoVideo>(*pequeno.formato);
  for (std::size_t i = 0; i < 3; ++i) {
    camada.enfileirar(Amostra{copia, pequeno.quadros[i].dados});
  }
  ASSERT_TRUE(esperarDecodificadas(18));
  ASSERT_EQ(camada.tomarImagem(*quadro), Novidade::nova);
  EXPECT_EQ(quadro->width, 320);
  EXPECT_EQ(camada.status(), Status::normal);
}

TEST_F(DecodificadorVideoTeste, APictureWiderThan8KFailsTheLayerInsteadOfBeingAllocated) {
  const auto oitoK =
      teste::codificar(*pasta, "color=c=gray:size=7680x4320:rate=30", "-frames:v 1 -preset ultrafast");
  const auto maior =
      teste::codificar(*pasta, "color=c=gray:size=7696x4320:rate=30", "-frames:v 1 -preset ultrafast");
  camada.enfileirar(maior.amostra(0));
  ASSERT_TRUE(esperar([&] { return camada.status() == Status::falhou; }));
  EXPECT_EQ(camada.decodificadas(), 0u);

  camada.descarregar();
  camada.enfileirar(oitoK.amostra(0));
  ASSERT_TRUE(esperarDecodificadas(1));
  ASSERT_EQ(camada.tomarImagem(*quadro), Novidade::nova);
  EXPECT_EQ(quadro->width, 7680);
  EXPECT_EQ(camada.status(), Status::normal);
}

TEST_F(DecodificadorVideoTeste, FlushingKeepsThePictureAndFlushingWithRemovalBlanksIt) {
  enfileirar(camada, pequeno, 0, 3);
  ASSERT_TRUE(esperarDecodificadas(3));
  camada.descarregar();
  EXPECT_EQ(camada.tomarImagem(*quadro), Novidade::nova);

  camada.enfileirar(pequeno.amostra(10));
  ASSERT_TRUE(esperarDecodificadas(4));
  const int antes = avisos;
  camada.descarregarERemoverImagem();
  // The screen must hear of the removal, or the last picture would stay on it.
  EXPECT_EQ(avisos, antes + 1);
  EXPECT_EQ(camada.tomarImagem(*quadro), Novidade::removida);
  EXPECT_EQ(camada.tomarImagem(*quadro), Novidade::nenhuma);

  camada.enfileirar(pequeno.amostra(20));
  ASSERT_TRUE(esperarDecodificadas(5));
  EXPECT_EQ(camada.tomarImagem(*quadro), Novidade::nova);
}

TEST_F(DecodificadorVideoTeste, ADecoderFallingTooFarBehindFailsTheLayerAndTheBacklogIsDropped) {
  // The wake-up call holds the decoder thread until the test lets it go.
  std::mutex trava;
  std::condition_variable mudou;
  bool parado = false;
  bool solto = false;
  DecodificadorVideo lenta([&] {
    std::unique_lock guarda(trava);
    parado = true;
    mudou.notify_all();
    mudou.wait(guarda, [&] { return solto; });
  });
  auto soltar = [&] {
    std::lock_guard guarda(trava);
    solto = true;
    mudou.notify_all();
  };
  // Released on every way out, or destroying `lenta` would wait for ever.
  struct Soltura {
    std::function<void()> soltar;
    ~Soltura() { soltar(); }
  } soltura{soltar};

  lenta.enfileirar(pequeno.amostra(0));
  {
    std::unique_lock guarda(trava);
    mudou.wait(guarda, [&] { return parado; });
  }
  for (std::size_t i = 0; i < DecodificadorVideo::limiteAmostras; ++i) {
    lenta.enfileirar(pequeno.amostra(1 + i % 9));
  }
  EXPECT_EQ(lenta.status(), Status::normal);
  lenta.enfileirar(pequeno.amostra(1));
  EXPECT_EQ(lenta.status(), Status::falhou);
  EXPECT_EQ(lenta.erro(), "No buffer space available");

  soltar();
  lenta.descarregar();
  enfileirar(lenta, pequeno, 10, 15);
  ASSERT_TRUE(esperar([&] { return lenta.decodificadas() >= 6; }));
  // Decoding is in order, so a surviving backlog would have come before these five.
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(lenta.decodificadas(), 6u);
  EXPECT_EQ(lenta.status(), Status::normal);
}

}  // namespace
}  // namespace orbelo
