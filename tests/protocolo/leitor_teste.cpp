#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "protocolo/LeitorMensagens.hpp"
#include "protocolo/Protocolo.hpp"

namespace orbelo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

Bytes concatenar(std::initializer_list<Bytes> partes) {
  Bytes todos;
  for (const auto& parte : partes) {
    todos.insert(todos.end(), parte.begin(), parte.end());
  }
  return todos;
}

Bytes quadroBruto(std::uint32_t comprimento, std::uint8_t tipo, const Bytes& payload) {
  Bytes quadro;
  anexarBE(quadro, comprimento);
  quadro.push_back(tipo);
  quadro.insert(quadro.end(), payload.begin(), payload.end());
  return quadro;
}

Bytes sequencia(std::size_t tamanho, std::uint8_t semente) {
  Bytes bytes(tamanho);
  for (std::size_t i = 0; i < tamanho; ++i) {
    bytes[i] = static_cast<std::uint8_t>(semente + i * 7);
  }
  return bytes;
}

std::vector<Mensagem> alimentarEmPedacos(LeitorMensagens& leitor, const Bytes& fluxo,
                                         std::size_t tamanhoPedaco) {
  std::vector<Mensagem> todas;
  for (std::size_t inicio = 0; inicio < fluxo.size(); inicio += tamanhoPedaco) {
    const auto fim = std::min(inicio + tamanhoPedaco, fluxo.size());
    for (auto& mensagem : leitor.alimentar(VistaBytes(fluxo).subspan(inicio, fim - inicio))) {
      todas.push_back(std::move(mensagem));
    }
  }
  return todas;
}

TEST(LeitorMensagens, ThreeBytesGiveNothingAndTheChunkThatCompletesTheFrameGivesIt) {
  LeitorMensagens leitor;
  const Bytes quadro = Protocolo::empacotar(TipoMensagem::ping, Bytes{9, 8, 7});
  EXPECT_THAT(leitor.alimentar(VistaBytes(quadro).first(3)), IsEmpty());
  EXPECT_THAT(leitor.alimentar(VistaBytes(quadro).subspan(3)),
              ElementsAre(Mensagem{TipoMensagem::ping, Bytes{9, 8, 7}}));
}

TEST(LeitorMensagens, AStreamCutAtEveryChunkSizeGivesTheSameMessagesInOrder) {
  const std::vector<Mensagem> esperadas = {
      {TipoMensagem::config, sequencia(8, 1)},
      {TipoMensagem::quadro, sequencia(3000, 2)},
      {TipoMensagem::pong, {}},
      {TipoMensagem::cursor, sequencia(13, 3)},
      {TipoMensagem::quadro, sequencia(1, 4)},
      {TipoMensagem::imagemCursor, sequencia(517, 5)},
  };
  Bytes fluxo;
  for (const auto& [tipo, payload] : esperadas) {
    const auto quadro = Protocolo::empacotar(tipo, payload);
    fluxo.insert(fluxo.end(), quadro.begin(), quadro.end());
  }
  for (std::size_t tamanho : {1, 2, 3, 4, 5, 6, 7, 11, 64, 999, 3004, 3005, 3006, 4096, 100000}) {
    LeitorMensagens leitor;
    EXPECT_EQ(alimentarEmPedacos(leitor, fluxo, tamanho), esperadas) << "chunks of " << tamanho;
    EXPECT_THAT(leitor.alimentar({}), IsEmpty());
  }
}

TEST(LeitorMensagens, TwoFramesAndHalfAThirdGiveTwoAndTheRestGivesTheThird) {
  const Bytes terceiro = Protocolo::empacotar(TipoMensagem::quadro, sequencia(40, 9));
  const Bytes fluxo = concatenar({Protocolo::empacotar(TipoMensagem::config, sequencia(8, 1)),
                                  Protocolo::empacotar(TipoMensagem::ping, {}), terceiro});
  const auto corte = fluxo.size() - terceiro.size() / 2;
  LeitorMensagens leitor;
  EXPECT_THAT(leitor.alimentar(VistaBytes(fluxo).first(corte)),
              ElementsAre(Mensagem{TipoMensagem::config, sequencia(8, 1)}, Mensagem{TipoMensagem::ping, {}}));
  EXPECT_THAT(leitor.alimentar(VistaBytes(fluxo).subspan(corte)),
              ElementsAre(Mensagem{TipoMensagem::quadro, sequencia(40, 9)}));
}

TEST(LeitorMensagens, AFrameOfLengthOneIsItsTypeWithAnEmptyPayload) {
  LeitorMensagens leitor;
  EXPECT_THAT(leitor.alimentar(quadroBruto(1, 4, {})),
              ElementsAre(Mensagem{TipoMensagem::pedirKeyframe, {}}));
}

TEST(LeitorMensagens, UnknownTypesAreSkippedAndTheFramesAfterThemStillArrive) {
  const Bytes fluxo =
      concatenar({quadroBruto(3, 0, {1, 2}), quadroBruto(1, 11, {}), quadroBruto(5, 255, {1, 2, 3, 4}),
                  Protocolo::empacotar(TipoMensagem::cursor, Bytes{5, 6})});
  LeitorMensagens leitor;
  EXPECT_THAT(leitor.alimentar(fluxo), ElementsAre(Mensagem{TipoMensagem::cursor, {5, 6}}));
  // The same stream arriving a byte at a time crosses the skip while frames are pending.
  LeitorMensagens lento;
  EXPECT_THAT(alimentarEmPedacos(lento, fluxo, 1), ElementsAre(Mensagem{TipoMensagem::cursor, {5, 6}}));
}

TEST(LeitorMensagens, CorruptLengthsThrowAsSoonAsTheirFourBytesArriveAndLeaveTheReaderEmpty) {
  const Bytes seguinte = Protocolo::empacotar(TipoMensagem::ping, Bytes{1});
  for (std::uint32_t comprimento : {0u, Protocolo::comprimentoMaximo + 1, 0xFFFFFFFFu}) {
    Bytes campo;
    anexarBE(campo, comprimento);

    LeitorMensagens inteiro;
    EXPECT_THROW(inteiro.alimentar(campo), ErroProtocolo) << comprimento;
    EXPECT_THAT(inteiro.alimentar(seguinte), ElementsAre(Mensagem{TipoMensagem::ping, {1}}));

    LeitorMensagens picado;
    EXPECT_THAT(picado.alimentar(VistaBytes(campo).first(3)), IsEmpty());
    EXPECT_THROW(picado.alimentar(VistaBytes(campo).subspan(3)), ErroProtocolo) << comprimento;
    EXPECT_THAT(picado.alimentar(seguinte), ElementsAre(Mensagem{TipoMensagem::ping, {1}}));
  }
}

TEST(LeitorMensagens, AValidFrameFollowedByACorruptLengthThrowsAndNeitherSurvives) {
  const Bytes fluxo =
      concatenar({Protocolo::empacotar(TipoMensagem::config, sequencia(8, 1)), Bytes{0, 0, 0, 0}});
  LeitorMensagens leitor;
  EXPECT_THROW(leitor.alimentar(fluxo), ErroProtocolo);
  EXPECT_THAT(leitor.alimentar(Protocolo::empacotar(TipoMensagem::pong, {})),
              ElementsAre(Mensagem{TipoMensagem::pong, {}}));

  // Completing a pending frame and then meeting a corrupt length in the same chunk.
  const Bytes parcial = Protocolo::empacotar(TipoMensagem::quadro, sequencia(20, 2));
  LeitorMensagens pendente;
  EXPECT_THAT(pendente.alimentar(VistaBytes(parcial).first(10)), IsEmpty());
  EXPECT_THROW(
      pendente.alimentar(concatenar({Bytes(parcial.begin() + 10, parcial.end()), Bytes{4, 0, 0, 1, 3}})),
      ErroProtocolo);
  EXPECT_THAT(pendente.alimentar(Protocolo::empacotar(TipoMensagem::pong, {})),
              ElementsAre(Mensagem{TipoMensagem::pong, {}}));
}

TEST(LeitorMensagens, TheLargestLengthIsAcceptedWaitedForAndDeliveredWhole) {
  const std::size_t tamanhoPayload = Protocolo::comprimentoMaximo - 1;
  const Bytes payload = sequencia(tamanhoPayload, 5);
  const Bytes quadro = Protocolo::empacotar(TipoMensagem::quadro, payload);
  LeitorMensagens leitor;
  EXPECT_THAT(leitor.alimentar(VistaBytes(quadro).first(4)), IsEmpty());
  std::vector<Mensagem> recebidas;
  constexpr std::size_t pedaco = 1024 * 1024 - 3;
  for (std::size_t inicio = 4; inicio < quadro.size(); inicio += pedaco) {
    ASSERT_THAT(recebidas, IsEmpty());
    recebidas =
        leitor.alimentar(VistaBytes(quadro).subspan(inicio, std::min(pedaco, quadro.size() - inicio)));
  }
  ASSERT_EQ(recebidas.size(), 1u);
  EXPECT_EQ(recebidas[0].first, TipoMensagem::quadro);
  EXPECT_TRUE(recebidas[0].second == payload);
}

TEST(LeitorMensagens, APayloadReadsTheSameAtIndexZeroWhereverItSatInTheStream) {
  Bytes payload;
  anexarBE(payload, std::uint32_t{0xDEADBEEF});
  const Bytes fluxo = concatenar({Protocolo::empacotar(TipoMensagem::config, sequencia(7, 1)),
                                  Protocolo::empacotar(TipoMensagem::cursor, payload)});
  LeitorMensagens leitor;
  const auto mensagens = alimentarEmPedacos(leitor, fluxo, 5);
  ASSERT_EQ(mensagens.size(), 2u);
  EXPECT_EQ(lerBE<std::uint32_t>(mensagens[1].second, 0), 0xDEADBEEF);
}

TEST(Empacotar, AKeyframeRequestIsFiveBytes) {
  EXPECT_EQ(Protocolo::empacotar(TipoMensagem::pedirKeyframe, {}), (Bytes{0, 0, 0, 1, 4}));
}

TEST(Empacotar, TheLengthCountsTheTypeByteAndThePayloadFollowsUnchanged) {
  const Bytes payload = sequencia(300, 1);
  const Bytes quadro = Protocolo::empacotar(TipoMensagem::exibicao, payload);
  ASSERT_EQ(quadro.size(), 305u);
  EXPECT_EQ(lerBE<std::uint32_t>(quadro, 0), 301u);
  EXPECT_EQ(quadro[4], 10);
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), quadro.begin() + 5));
}

TEST(BytesBigEndian, IntegersAreWrittenAndReadMostSignificantFirst) {
  Bytes bytes{0xAA};
  anexarBE(bytes, std::uint16_t{0x1234});
  anexarBE(bytes, std::uint32_t{0x89ABCDEF});
  EXPECT_EQ(bytes, (Bytes{0xAA, 0x12, 0x34, 0x89, 0xAB, 0xCD, 0xEF}));
  EXPECT_EQ(lerBE<std::uint16_t>(bytes, 1), 0x1234);
  EXPECT_EQ(lerBE<std::uint32_t>(bytes, 3), 0x89ABCDEFu);
  EXPECT_EQ(lerBE<std::uint16_t>(bytes, 2), 0x3489);
}

TEST(BytesBigEndian, FloatsTravelAsTheirSinglePrecisionBits) {
  const Bytes um{0x3F, 0x80, 0x00, 0x00};
  EXPECT_EQ(lerFloatBE(um, 0), 1.0f);
  Bytes escrito;
  anexarBE(escrito, 1.0f);
  EXPECT_EQ(escrito, um);
  anexarBE(escrito, -0.15625f);
  EXPECT_EQ(Bytes(escrito.begin() + 4, escrito.end()), (Bytes{0xBE, 0x20, 0x00, 0x00}));
  EXPECT_EQ(lerFloatBE(escrito, 4), -0.15625f);
}

}  // namespace
}  // namespace orbelo
