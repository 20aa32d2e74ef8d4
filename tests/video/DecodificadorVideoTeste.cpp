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
using teste::FluxoH264;

bool esperar(const std::function<bool()>& condicao, std::chrono::milliseconds limite = 20s) {
  const auto fim = std::chrono::steady_clock::now() + limite;
  while (!condicao()) {
    if (std::chrono::steady_clock::now() > fim) {
      return false;
    }
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// Real streams, made once: key frames every 10 frames.
class DecodificadorVideoTeste : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pasta = new teste::PastaTemporaria;
    pequeno = new FluxoH264(
        teste::codificar(*pasta, "testsrc2=size=320x240:rate=30", "-frames:v 30 -x264-params keyint=10"));
    grande = new FluxoH264(
        teste::codificar(*pasta, "testsrc2=size=640x360:rate=30", "-frames:v 10 -x264-params keyint=10"));
  }
  static void TearDownTestSuite() {
    delete grande;
    delete pequeno;
    delete pasta;
  }

  void enfileirar(const FluxoH264& fluxo, std::size_t de, std::size_t ate) {
    for (std::size_t i = de; i < ate; ++i) {
      camada.enfileirar(fluxo.amostra(i));
    }
  }
  bool esperarDecodificadas(std::uint64_t quantas) {
    return esperar([&] { return camada.decodificadas() >= quantas; });
  }

  static inline teste::PastaTemporaria* pasta = nullptr;
  static inline FluxoH264* pequeno = nullptr;
  static inline FluxoH264* grande = nullptr;

  std::atomic<int> avisos = 0;
  DecodificadorVideo camada{[this] { ++avisos; }};
  Quadro quadro{av_frame_alloc()};
};

TEST_F(DecodificadorVideoTeste, TheTestStreamsSplitIntoOneSampleAFrameWithKeyFramesEveryTen) {
  ASSERT_EQ(pequeno->quadros.size(), 30u);
  for (std::size_t i = 0; i < pequeno->quadros.size(); ++i) {
    EXPECT_EQ(pequeno->quadros[i].chave, i % 10 == 0) << i;
  }
  EXPECT_FALSE(pequeno->formato->sps.empty());
  EXPECT_FALSE(pequeno->formato->pps.empty());
}

TEST_F(DecodificadorVideoTeste, ARealStreamDecodesEveryFrameAtItsSizeAndStaysNormal) {
  enfileirar(*pequeno, 0, 30);
  ASSERT_TRUE(esperarDecodificadas(30));
  EXPECT_EQ(camada.status(), CamadaVideo::Status::normal);
  EXPECT_EQ(camada.erro(), std::nullopt);
  ASSERT_EQ(camada.tomarImagem(*quadro), Novidade::nova);
  EXPECT_EQ(quadro->width, 320);
  EXPECT_EQ(quadro->height, 240);
  EXPECT_EQ(quadro->format, AV_PIX_FMT_YUV420P);
}

TEST_F(DecodificadorVideoTeste, OnlyTheNewestPictureWaitsAndItIsTheLastFrameExactly) {
  enfileirar(*pequeno, 0, 30);
  ASSERT_TRUE(esperarDecodificadas(30));

  // Nobody took a picture: one wake-up, and every picture but the last was replaced.
  EXPECT_EQ(avisos, 1);
  EXPECT_EQ(camada.puladas(), 29u);
  ASSERT_EQ(camada.tomarImagem(*quadro), Novidade::nova);
  EXPECT_EQ(camada.tomarImagem(*quadro), Novidade::nenhuma);

  // The luma of ffmpeg's own decoding of frame 30.
  const auto referencia = (*pasta) / "referencia.yuv";
  teste::executarFfmpeg("-i '" + pequeno->arquivo.string() + "' -f rawvideo -pix_fmt yuv420p", referencia);
  const Bytes todos = teste::lerArquivo(referencia);
  const std::size_t tamanhoQuadro = 320 * 240 * 3 / 2;
  ASSERT_EQ(todos.size(), 30 * tamanhoQuadro);
  const std::uint8_t* ultimo = todos.data() + 29 * tamanhoQuadro;
  for (std::ptrdiff_t linha = 0; linha < 240; ++linha) {
    ASSERT_EQ(0, std::memcmp(quadro->data[0] + linha * quadro->linesize[0], ultimo + linha * 320, 320))
        << linha;
  }
}

TEST_F(DecodificadorVideoTeste, TakingEachPictureWakesTheScreenAgainForTheNext) {
  camada.enfileirar(pequeno->amostra(0));
  ASSERT_TRUE(esperarDecodificadas(1));
  ASSERT_EQ(camada.tomarImagem(*quadro), Novidade::nova);
  camada.enfileirar(pequeno->amostra(1));
  ASSERT_TRUE(esperarDecodificadas(2));
  EXPECT_EQ(avisos, 2);
  EXPECT_EQ(camada.puladas(), 0u);
  EXPECT_EQ(camada.tomarImagem(*quadro), Novidade::nova);
}

TEST_F(DecodificadorVideoTeste, GarbageFailsTheLayerWithFfmpegsTextAndLaterSamplesWaitForTheFlush) {
  enfileirar(*pequeno, 0, 3);
  ASSERT_TRUE(esperarDecodificadas(3));
  // A NAL unit whose length runs past the end of the frame.
  camada.enfileirar(Amostra{pequeno->formato, {0x00, 0x00, 0x10, 0x00, 0x41, 0x9A, 0x02}});
  ASSERT_TRUE(esperar([&] { return camada.status() == CamadaVideo::Status::falhou; }));
  EXPECT_EQ(camada.erro(), "Invalid data found when processing input");

  enfileirar(*pequeno, 3, 6);
  camada.descarregar();
  EXPECT_EQ(camada.status(), CamadaVideo::Status::normal);
  EXPECT_EQ(camada.erro(), std::nullopt);
  EXPECT_EQ(camada.decodificadas(), 3u);

  // Recovery starts at the next key frame, as the receiver's gate ensures.
  enfileirar(*pequeno, 10, 15);
  ASSERT_TRUE(esperarDecodificadas(8));
  EXPECT_EQ(camada.status(), CamadaVideo::Status::normal);
}

TEST_F(DecodificadorVideoTeste, AFrameCutShortFailsTheLayer) {
  enfileirar(*pequeno, 0, 1);
  const Bytes& inteiro = pequeno->quadros[1].dados;
  Bytes cortado(inteiro.begin(), inteiro.begin() + static_cast<std::ptrdiff_t>(inteiro.size() / 2));
  camada.enfileirar(Amostra{pequeno->formato, cortado});
  ASSERT_TRUE(esperar([&] { return camada.status() == CamadaVideo::Status::falhou; }));
  EXPECT_FALSE(camada.erro().value_or("").empty());
}

TEST_F(DecodificadorVideoTeste, AnEmptySampleFailsTheLayerWithoutEndingTheStream) {
  enfileirar(*pequeno, 0, 2);
  camada.enfileirar(Amostra{pequeno->formato, {}});
  ASSERT_TRUE(esperar([&] { return camada.status() == CamadaVideo::Status::falhou; }));
  camada.descarregar();
  enfileirar(*pequeno, 10, 13);
  ASSERT_TRUE(esperarDecodificadas(5));
  EXPECT_EQ(camada.status(), CamadaVideo::Status::normal);
}

TEST_F(DecodificadorVideoTeste, ASampleWithoutFormatOrWithParameterSetsThatAreNoH264FailsTheLayer) {
  camada.enfileirar(Amostra{nullptr, pequeno->quadros[0].dados});
  ASSERT_TRUE(esperar([&] { return camada.status() == CamadaVideo::Status::falhou; }));
  EXPECT_TRUE(camada.erro().has_value());
  camada.descarregar();

  auto falso = std::make_shared<FormatoVideo>(FormatoVideo{{0x67, 0xFF, 0xFF, 0xFF, 0xFF}, {0x68, 0xFF}});
  camada.enfileirar(Amostra{falso, pequeno->quadros[0].dados});
  ASSERT_TRUE(esperar([&] { return camada.status() == CamadaVideo::Status::falhou; }));
  EXPECT_TRUE(camada.erro().has_value());
  EXPECT_EQ(camada.decodificadas(), 0u);
}

TEST_F(DecodificadorVideoTeste, ANewFormatReopensTheDecoderAtTheNewSize) {
  enfileirar(*pequeno, 0, 5);
  enfileirar(*grande, 0, 10);
  ASSERT_TRUE(esperarDecodificadas(15));
  EXPECT_EQ(camada.status(), CamadaVideo::Status::normal);
  ASSERT_EQ(camada.tomarImagem(*quadro), Novidade::nova);
  EXPECT_EQ(quadro->width, 640);
  EXPECT_EQ(quadro->height, 360);

  // And back, with a fresh copy of the first format.
  auto copia = std::make_shared<FormatoVideo>(*pequeno->formato);
  for (std::size_t i = 0; i < 3; ++i) {
    camada.enfileirar(Amostra{copia, pequeno->quadros[i].dados});
  }
  ASSERT_TRUE(esperarDecodificadas(18));
  ASSERT_EQ(camada.tomarImagem(*quadro), Novidade::nova);
  EXPECT_EQ(quadro->width, 320);
  EXPECT_EQ(camada.status(), CamadaVideo::Status::normal);
}

TEST_F(DecodificadorVideoTeste, FlushingKeepsThePictureAndFlushingWithRemovalBlanksIt) {
  enfileirar(*pequeno, 0, 3);
  ASSERT_TRUE(esperarDecodificadas(3));
  camada.descarregar();
  EXPECT_EQ(camada.tomarImagem(*quadro), Novidade::nova);

  camada.enfileirar(pequeno->amostra(10));
  ASSERT_TRUE(esperarDecodificadas(4));
  camada.descarregarERemoverImagem();
  EXPECT_EQ(camada.tomarImagem(*quadro), Novidade::removida);
  EXPECT_EQ(camada.tomarImagem(*quadro), Novidade::nenhuma);

  camada.enfileirar(pequeno->amostra(20));
  ASSERT_TRUE(esperarDecodificadas(5));
  EXPECT_EQ(camada.tomarImagem(*quadro), Novidade::nova);
}

// A decoder that stops in its wake-up call until the test lets it go on.
class DecodificadorParado {
 public:
  DecodificadorParado()
      : camada([this] {
          std::unique_lock guarda(trava);
          parado = true;
          mudou.notify_all();
          mudou.wait(guarda, [this] { return solto; });
        }) {}
  ~DecodificadorParado() { soltar(); }

  void esperarParar() {
    std::unique_lock guarda(trava);
    mudou.wait(guarda, [this] { return parado; });
  }
  void soltar() {
    std::lock_guard guarda(trava);
    solto = true;
    mudou.notify_all();
  }

 private:
  std::mutex trava;
  std::condition_variable mudou;
  bool parado = false;
  bool solto = false;

 public:
  DecodificadorVideo camada;
};

TEST_F(DecodificadorVideoTeste, ADecoderFallingTooFarBehindFailsTheLayerAndTheBacklogIsDropped) {
  DecodificadorParado parado;
  parado.camada.enfileirar(pequeno->amostra(0));
  parado.esperarParar();

  for (std::size_t i = 0; i < DecodificadorVideo::limiteAmostras; ++i) {
    parado.camada.enfileirar(pequeno->amostra(1 + i % 9));
  }
  EXPECT_EQ(parado.camada.status(), CamadaVideo::Status::normal);
  parado.camada.enfileirar(pequeno->amostra(1));
  EXPECT_EQ(parado.camada.status(), CamadaVideo::Status::falhou);
  EXPECT_EQ(parado.camada.erro(), "No buffer space available");

  parado.soltar();
  parado.camada.descarregar();
  for (std::size_t i = 10; i < 15; ++i) {
    parado.camada.enfileirar(pequeno->amostra(i));
  }
  ASSERT_TRUE(esperar([&] { return parado.camada.decodificadas() >= 6; }));
  // Decoding is in order, so a surviving backlog would have come before these five.
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(parado.camada.decodificadas(), 6u);
  EXPECT_EQ(parado.camada.status(), CamadaVideo::Status::normal);
}

TEST_F(DecodificadorVideoTeste, ABacklogAsLargeAsTheByteLimitFailsTheLayerBeforeTheCountLimit) {
  DecodificadorParado parado;
  parado.camada.enfileirar(pequeno->amostra(0));
  parado.esperarParar();

  const Bytes grandeDemais(DecodificadorVideo::limiteBytes / 4 + 1, 0);
  for (int i = 0; i < 3; ++i) {
    parado.camada.enfileirar(Amostra{pequeno->formato, grandeDemais});
  }
  EXPECT_EQ(parado.camada.status(), CamadaVideo::Status::normal);
  parado.camada.enfileirar(Amostra{pequeno->formato, grandeDemais});
  EXPECT_EQ(parado.camada.status(), CamadaVideo::Status::falhou);
  parado.soltar();
}

}  // namespace
}  // namespace orbelo
