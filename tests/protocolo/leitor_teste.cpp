#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "protocolo/LeitorMensagens.hpp"

namespace orbelo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

Bytes mensagemBruta(std::uint32_t comprimento, std::uint8_t tipo, std::size_t tamanhoPayload = 0) {
  Bytes quadro;
  anexarBE(quadro, comprimento);
  quadro.push_back(tipo);
  for (std::size_t i = 0; i < tamanhoPayload; ++i) {
    quadro.push_back(static_cast<std::uint8_t>(tipo + i * 7));
  }
  return quadro;
}

TEST(LeitorMensagens, AStreamCutIntoChunksOfAnySizeGivesItsKnownMessagesInOrder) {
  const std::vector<std::pair<std::uint8_t, std::size_t>> quadros = {
      {1, 8}, {0, 2}, {3, 3000}, {9, 0}, {11, 0}, {6, 13}, {255, 4}, {3, 1}, {7, 517}};
  Bytes fluxo;
  std::vector<Mensagem> esperadas;
  for (const auto& [tipo, tamanho] : quadros) {
    const auto quadro = mensagemBruta(static_cast<std::uint32_t>(tamanho + 1), tipo, tamanho);
    fluxo.insert(fluxo.end(), quadro.begin(), quadro.end());
    if (tipo >= 1 && tipo <= 10) {
      esperadas.emplace_back(static_cast<TipoMensagem>(tipo), Bytes(quadro.begin() + 5, quadro.end()));
    }
  }
  for (std::size_t tamanho : {1, 2, 3, 4, 5, 6, 7, 11, 999, 3004, 3005, 3006, 100000}) {
    LeitorMensagens leitor;
    std::vector<Mensagem> recebidas;
    for (std::size_t inicio = 0; inicio < fluxo.size(); inicio += tamanho) {
      std::ranges::move(
          leitor.alimentar(VistaBytes(fluxo).subspan(inicio, std::min(tamanho, fluxo.size() - inicio))),
          std::back_inserter(recebidas));
    }
    EXPECT_EQ(recebidas, esperadas) << "chunks of " << tamanho;
  }
}

TEST(LeitorMensagens, CorruptLengthsThrowAsSoonAsTheirFourBytesArriveAndLeaveTheReaderEmpty) {
  const Bytes seguinte = mensagemBruta(1, 8);
  for (std::uint32_t comprimento : {0u, Protocolo::comprimentoMaximo + 1, 0xFFFFFFFFu}) {
    Bytes fluxo = mensagemBruta(21, 3, 20);
    const Bytes campo = mensagemBruta(comprimento, 3);
    fluxo.insert(fluxo.end(), campo.begin(), campo.end() - 1);
    // The second chunk ends with the bad length's last byte. A valid frame it completes, or holds
    // whole, is lost with it.
    for (const std::size_t corte : {fluxo.size() - 1, std::size_t{10}, std::size_t{0}}) {
      LeitorMensagens leitor;
      EXPECT_EQ(leitor.alimentar(VistaBytes(fluxo).first(corte)).size(), corte > 25 ? 1u : 0u);
      EXPECT_THROW(leitor.alimentar(VistaBytes(fluxo).subspan(corte)), ErroProtocolo) << comprimento;
      EXPECT_THAT(leitor.alimentar(seguinte), ElementsAre(Mensagem{TipoMensagem::ping, {}})) << corte;
    }
  }
}

TEST(LeitorMensagens, TheLargestLengthIsAcceptedWaitedForAndDeliveredWhole) {
  const Bytes quadro = mensagemBruta(Protocolo::comprimentoMaximo, 3, Protocolo::comprimentoMaximo - 1);
  LeitorMensagens leitor;
  EXPECT_THAT(leitor.alimentar(VistaBytes(quadro).first(quadro.size() - 1)), IsEmpty());
  EXPECT_THAT(leitor.alimentar(VistaBytes(quadro).last(1)),
              ElementsAre(Mensagem(TipoMensagem::quadro, Bytes(quadro.begin() + 5, quadro.end()))));
}

}  // namespace
}  // namespace orbelo
