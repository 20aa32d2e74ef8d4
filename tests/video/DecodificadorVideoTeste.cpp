// The decoder thread with real streams: the newest-picture slot, failures and their
// recovery, format changes and the size limit.
#include <gtest/gtest.h>

#include <cstring>
#include <future>

#include "receptor/plataforma/video/DecodificadorVideo.hpp"
#include "video/Fluxo.hpp"

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
        teste::codificarVideo(*pasta, "testsrc2=size=320x240:rate=30", "-frames:v 30 -x264-params keyint=10");
  }
  static void TearDownTestSuite() { pasta.reset(); }

  void enfileirar(const teste::FluxoVideo& fluxo, std::size_t de, std::size_t ate) {
    for (std::size_t i = de; i < ate; ++i) camada.enfileirar(fluxo.amostra(i));
  }
  bool esperarDecodificadas(std::uint64_t quantas) {
    return esperar([&] { return camada.decodificadas() >= quantas; });
  }

  static inline std::unique_ptr<teste::PastaTemporaria> pasta;
  static inline teste::FluxoVideo pequeno;

  std::atomic<int> avisos = 0;
  DecodificadorVideo camada{[this] { ++avisos; }};
  Quadro quadro{av_frame_alloc()};
};

TEST_F(DecodificadorVideoTeste,
       TheSlotKeepsTheNewestPictureAsFfmpegDecodesItThroughFormatChangesFlushesAndRemoval) {
  enfileirar(pequeno, 0, 30);
  ASSERT_TRUE(esperarDecodificadas(30));
  // One wake-up: the screen was told once and every later picture replaced the waiting one.
  EXPECT_EQ(avisos, 1);
  EXPECT_EQ(camada.puladas(), 29u);
  ASSERT_EQ(camada.tomarImagem(*quadro), Novidade::nova);
  EXPECT_EQ(camada.tomarImagem(*quadro), Novidade::nenhuma);
  ASSERT_EQ(std::pair(quadro->width, quadro->height), std::pair(320, 240));

  const auto referencia = (*pasta) / "ultimo.yuv";
  teste::ffmpeg("-i '" + pequeno.arquivo.string() +
                "' -vf trim=start_frame=29 -f rawvideo -pix_fmt yuv420p '" + referencia.string() + "'");
  const Bytes ultimo = teste::lerArquivo(referencia);
  ASSERT_EQ(ultimo.size(), 320u * 240 * 3 / 2);
  for (std::ptrdiff_t linha = 0; linha < 240; ++linha)
    ASSERT_EQ(0, std::memcmp(quadro->data[0] + linha * quadro->linesize[0], ultimo.data() + linha * 320, 320))
        << linha;

  // Once the screen has taken the picture, the next one wakes it again.
  camada.enfileirar(pequeno.amostra(0));
  ASSERT_TRUE(esperarDecodificadas(31));
  EXPECT_EQ(avisos, 2);

  // A new format reopens the decoder at its size, up to 8K.
  const auto oitoK =
      teste::codificarVideo(*pasta, "color=c=gray:size=7680x4320:rate=30", "-frames:v 1 -preset ultrafast");
  camada.enfileirar(oitoK.amostra(0));
  ASSERT_TRUE(esperarDecodificadas(32));
  camada.descarregar();
  ASSERT_EQ(camada.tomarImagem(*quadro), Novidade::nova) << "a flush keeps the picture";
  EXPECT_EQ(std::pair(quadro->width, quadro->height), std::pair(7680, 4320));

  enfileirar(pequeno, 0, 3);
  ASSERT_TRUE(esperarDecodificadas(35));
  const int antes = avisos;
  camada.descarregarERemoverImagem();
  // The screen must hear of the removal, or the last picture would stay on it.
  EXPECT_EQ(avisos, antes + 1);
  EXPECT_EQ(camada.tomarImagem(*quadro), Novidade::removida);
  camada.enfileirar(pequeno.amostra(10));
  ASSERT_TRUE(esperarDecodificadas(36));
  ASSERT_EQ(camada.tomarImagem(*quadro), Novidade::nova);
  EXPECT_EQ(quadro->width, 320);
}

TEST_F(DecodificadorVideoTeste, EachBadSampleFailsTheLayerWithATextAndAFlushThenAKeyFrameRecovers) {
  const auto formato = pequeno.formato;
  const Bytes& quadro1 = pequeno.quadros[1].unidades;
  // Refused rather than allocated.
  const auto maior8K =
      teste::codificarVideo(*pasta, "color=c=gray:size=7696x4320:rate=30", "-frames:v 1 -preset ultrafast");
  const std::vector<std::pair<const char*, Amostra>> ruins{
      {"length past the end", {formato, {0x00, 0x00, 0x10, 0x00, 0x41, 0x9A, 0x02}}},
      {"frame cut short",
       {formato, Bytes(quadro1.begin(), quadro1.begin() + std::ptrdiff_t(quadro1.size() / 2))}},
      {"empty", {formato, {}}},
      {"no format", {nullptr, pequeno.quadros[0].unidades}},
      {"parameter sets that are no H.264",
       {std::make_shared<FormatoVideo>(FormatoVideo{{0x67, 0xFF, 0xFF, 0xFF, 0xFF}, {0x68, 0xFF}}),
        pequeno.quadros[0].unidades}},
      {"wider than 8K", maior8K.amostra(0)},
  };
  std::uint64_t decodificadas = 0;
  for (const auto& [nome, ruim] : ruins) {
    SCOPED_TRACE(nome);
    enfileirar(pequeno, 0, 2);
    ASSERT_TRUE(esperarDecodificadas(decodificadas += 2));
    camada.enfileirar(ruim);
    ASSERT_TRUE(esperar([&] { return camada.status() == Status::falhou; }));
    EXPECT_FALSE(camada.erro().value_or("").empty());

    // Frames after the broken one wait for the flush, which drops them.
    enfileirar(pequeno, 2, 5);
    camada.descarregar();
    EXPECT_EQ(camada.status(), Status::normal);
    EXPECT_EQ(camada.erro(), std::nullopt);
    enfileirar(pequeno, 10, 13);
    ASSERT_TRUE(esperarDecodificadas(decodificadas += 3));
    EXPECT_EQ(camada.decodificadas(), decodificadas);
  }
}

TEST_F(DecodificadorVideoTeste, ADecoderFallingTooFarBehindFailsTheLayerAndTheBacklogIsDropped) {
  // The wake-up call holds the decoder thread until `soltura` lets it go, on every way out,
  // or destroying `lenta` would wait for ever.
  std::promise<void> parado, solto;
  const std::shared_future<void> soltoFuturo = solto.get_future().share();
  DecodificadorVideo lenta([&] {
    parado.set_value();
    soltoFuturo.wait();
  });
  std::unique_ptr<void, std::function<void(void*)>> soltura(&solto, [&](void*) { solto.set_value(); });
  lenta.enfileirar(pequeno.amostra(0));
  parado.get_future().wait();
  for (std::size_t i = 0; i < DecodificadorVideo::limiteAmostras; ++i)
    lenta.enfileirar(pequeno.amostra(1 + i % 9));
  EXPECT_EQ(lenta.status(), Status::normal);
  lenta.enfileirar(pequeno.amostra(1));
  EXPECT_EQ(lenta.status(), Status::falhou);
  EXPECT_EQ(lenta.erro(), "No buffer space available");

  soltura.reset();
  lenta.descarregar();
  for (std::size_t i = 10; i < 15; ++i) lenta.enfileirar(pequeno.amostra(i));
  ASSERT_TRUE(esperar([&] { return lenta.decodificadas() >= 6; }));
  // Decoding is in order, so a surviving backlog would have come before these five.
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(lenta.decodificadas(), 6u);
}

}  // namespace
}  // namespace orbelo
