// The decoder thread with real streams: the newest-picture slot, failures and their
// recovery, format changes and the size limit.
#include <gtest/gtest.h>

#include <latch>

#include "receptor/plataforma/video/DecodificadorVideo.hpp"
#include "video/Fluxo.hpp"

namespace orbelo {
namespace {

using Novidade = ImagemMaisNova::Novidade;
using Status = CamadaVideo::Status;
using teste::esperar;

// Real streams, made once, with key frames every 10 frames.
class DecodificadorVideoTeste : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pasta = std::make_unique<teste::PastaTemporaria>();
    pequeno =
        teste::codificarVideo(*pasta, "testsrc2=size=320x240:rate=30", "-frames:v 30 -x264-params keyint=10");
  }
  static void TearDownTestSuite() { pasta.reset(); }

  void enfileirar(const teste::FluxoVideo& fluxo, std::size_t de, std::size_t ate) {
    for (std::size_t i = de; i < ate; ++i) {
      camada.enfileirar(fluxo.amostra(i));
    }
  }
  // Until every queued sample is decoded (or the layer has failed).
  bool esperarDecodificar() {
    return esperar([&] { return !camada.imagemACaminho(); });
  }

  static inline std::unique_ptr<teste::PastaTemporaria> pasta;
  static inline teste::FluxoVideo pequeno;

  DecodificadorVideo camada{[] {}};
  Imagem imagem{av_frame_alloc()};
};

// A picture's pts is the number of the sample it came from, counted from 0.
TEST_F(DecodificadorVideoTeste,
       TheSlotKeepsTheNewestPictureAsFfmpegDecodesItThroughFormatChangesFlushesAndRemoval) {
  enfileirar(pequeno, 0, 30);
  ASSERT_TRUE(esperarDecodificar());
  ASSERT_EQ(camada.tomarImagem(*imagem), Novidade::nova);
  EXPECT_EQ(camada.tomarImagem(*imagem), Novidade::nenhuma);
  EXPECT_EQ(std::tuple(imagem->width, imagem->height, imagem->pts), std::tuple(320, 240, std::int64_t{29}));

  // A new format reopens the decoder at its size, up to 8K.
  const auto oitoK =
      teste::codificarVideo(*pasta, "color=c=gray:size=7680x4320:rate=30", "-frames:v 1 -preset ultrafast");
  camada.enfileirar(oitoK.amostra(0));
  ASSERT_TRUE(esperarDecodificar());
  camada.descarregar();
  ASSERT_EQ(camada.tomarImagem(*imagem), Novidade::nova) << "a flush keeps the picture";
  EXPECT_EQ(std::pair(imagem->width, imagem->height), std::pair(7680, 4320));

  enfileirar(pequeno, 0, 3);
  ASSERT_TRUE(esperarDecodificar());
  camada.descarregarERemoverImagem();
  // The screen must see the removal, or the last picture would stay on it.
  EXPECT_TRUE(camada.mudou());
  EXPECT_EQ(camada.tomarImagem(*imagem), Novidade::removida);
  camada.enfileirar(pequeno.amostra(10));
  ASSERT_TRUE(esperarDecodificar());
  ASSERT_EQ(camada.tomarImagem(*imagem), Novidade::nova);
  EXPECT_EQ(std::pair(imagem->width, imagem->pts), std::pair(320, std::int64_t{34}));
}

TEST_F(DecodificadorVideoTeste, EachBadSampleFailsTheLayerWithATextAndAFlushThenAKeyFrameRecovers) {
  // Refused rather than allocated.
  const auto maior8K =
      teste::codificarVideo(*pasta, "color=c=gray:size=7696x4320:rate=30", "-frames:v 1 -preset ultrafast");
  const std::vector<std::pair<const char*, Amostra>> ruins{
      {"length past the end", teste::amostraDe(pequeno.formato, {0x00, 0x00, 0x10, 0x00, 0x41, 0x9A, 0x02})},
      {"empty", teste::amostraDe(pequeno.formato, {})},
      {"no format", teste::amostraDe(nullptr, pequeno.quadros[0].unidades)},
      {"parameter sets that are no H.264",
       teste::amostraDe(
           std::make_shared<FormatoVideo>(FormatoVideo{{0x67, 0xFF, 0xFF, 0xFF, 0xFF}, {0x68, 0xFF}}),
           pequeno.quadros[0].unidades)},
      {"wider than 8K", maior8K.amostra(0)},
  };
  std::int64_t numero = -1;  // of the last sample decoded
  for (const auto& [nome, ruim] : ruins) {
    SCOPED_TRACE(nome);
    enfileirar(pequeno, 0, 2);
    ASSERT_TRUE(esperarDecodificar());
    camada.enfileirar(ruim);
    ASSERT_TRUE(esperar([&] { return camada.status() == Status::falhou; }));
    EXPECT_FALSE(camada.erro().value_or("").empty());

    // Frames after the broken one wait for the flush, which drops them: they take no number.
    enfileirar(pequeno, 2, 5);
    camada.descarregar();
    EXPECT_EQ(camada.erro(), std::nullopt);
    enfileirar(pequeno, 10, 13);
    ASSERT_TRUE(esperarDecodificar());
    ASSERT_EQ(camada.tomarImagem(*imagem), Novidade::nova);
    EXPECT_EQ(imagem->pts, numero += 6);
  }
}

TEST_F(DecodificadorVideoTeste, ADecoderFallingTooFarBehindFailsTheLayerAndTheBacklogIsDropped) {
  // The wake-up call, made once for the first picture, holds the decoder thread until `solto`
  // lets it go; nothing in between may leave the test, or destroying `lenta` would wait for ever.
  std::latch parado{1}, solto{1};
  DecodificadorVideo lenta([&] {
    parado.count_down();
    solto.wait();
  });
  lenta.enfileirar(pequeno.amostra(0));
  parado.wait();
  for (std::size_t i = 0; i < DecodificadorVideo::limiteAmostras; ++i) {
    lenta.enfileirar(pequeno.amostra(1 + i % 9));
  }
  EXPECT_EQ(lenta.status(), Status::normal);
  lenta.enfileirar(pequeno.amostra(1));
  EXPECT_EQ(lenta.erro(), "No buffer space available");

  solto.count_down();
  lenta.descarregar();
  for (std::size_t i = 10; i < 15; ++i) {
    lenta.enfileirar(pequeno.amostra(i));
  }
  ASSERT_TRUE(esperar([&] { return !lenta.imagemACaminho(); }));
  // Samples are numbered as they are decoded, so a surviving backlog would have come first.
  ASSERT_EQ(lenta.tomarImagem(*imagem), Novidade::nova);
  EXPECT_EQ(imagem->pts, 5);
}

}  // namespace
}  // namespace orbelo
