#include <gtest/gtest.h>

#include "Bancada.hpp"

namespace orbelo::teste {
namespace {

TEST(Formato, TwoLengthPrefixedRecordsBecomeTheSpsAndPpsAndTheRestIsIgnored) {
  const auto formato = Receptor::criarFormato(parametrosBons + Bytes{0, 9, 1});
  ASSERT_TRUE(formato);
  EXPECT_EQ(formato->sps, (Bytes{0x67, 0x42, 0, 0x1F}));
  EXPECT_EQ(formato->pps, (Bytes{0x68, 0xCE}));
}

TEST(Formato, MalformedPayloadsAndSetsTheDecoderWouldRefuseGiveNone) {
  const std::vector<Bytes> ruins = {
      {},
      {0},
      {0, 4, 0x67, 0x42, 0, 0x1F},              // one record
      {0, 4, 0x67, 0x42, 0, 0x1F, 0},           // second length cut
      {0, 5, 0x67, 0x42, 0, 0x1F, 0, 1, 0x68},  // first length past the end
      {0, 3, 0x67, 0x42, 0, 0, 1, 0x68},        // SPS too short
      {0, 4, 0x68, 0x42, 0, 0x1F, 0, 1, 0x68},  // first is no SPS
      {0, 4, 0x67, 0x42, 0, 0x1F, 0, 1, 0x67},  // second is no PPS
      {0, 4, 0x67, 0x42, 0, 0x1F, 0, 0},        // empty PPS
  };
  for (const Bytes& payload : ruins) {
    EXPECT_FALSE(Receptor::criarFormato(payload)) << ::testing::PrintToString(payload);
  }
}

struct Exibicao : ::testing::Test {
  Bancada b;
  void SetUp() override {
    b.opcoes.codigo = "123456";
    b.opcoes.host = "10.0.0.5";
    b.lancar(std::nullopt);
  }
  void quadros(std::size_t quantos) {
    Bytes todos = mensagem(TipoMensagem::parametros, parametrosBons);
    const Bytes chave = quadro(1);
    for (std::size_t i = 0; i < quantos; ++i) todos.insert(todos.end(), chave.begin(), chave.end());
    b.receber(todos);
  }
  std::vector<Bytes> relatorios() {
    std::vector<Bytes> enviados;
    for (const auto& m : b.conexao().enviados)
      if (m[4] == static_cast<std::uint8_t>(TipoMensagem::exibicao)) enviados.push_back(m);
    return enviados;
  }
};

TEST_F(Exibicao, AFailedDecoderIsReportedFlushedAndAsksForAKeyFrame) {
  b.mudar(EstadoConexao::pronta);
  quadros(1);
  b.camada.estado = CamadaVideo::Status::falhou;
  b.camada.erroAtual = "Invalid data found when processing input";
  b.receber(quadro(0));
  EXPECT_EQ(b.camada.enfileiradas.size(), 1u);
  EXPECT_EQ(b.camada.descargas, 1);
  EXPECT_EQ(b.linhas.back(),
            "Erro de decodificação: Invalid data found when processing input. Pedindo keyframe.");
  EXPECT_EQ(b.conexao().enviados, (std::vector<Bytes>{{0, 0, 0, 1, 4}}));

  // The gate is closed again: only a key frame reaches the healthy layer.
  b.receber(quadro(0));
  EXPECT_EQ(b.camada.enfileiradas.size(), 1u);
  b.receber(quadro(1));
  EXPECT_EQ(b.camada.enfileiradas.size(), 2u);

  b.camada.estado = CamadaVideo::Status::falhou;
  b.camada.erroAtual = std::nullopt;
  b.receber(quadro(0));
  EXPECT_EQ(b.linhas.back(), "Erro de decodificação: ?. Pedindo keyframe.");
}

TEST_F(Exibicao, TheReportCarriesHalfTheFramesCappedAndOnlyWhileEstablished) {
  quadros(10);
  b.agenda.rodar(2s);
  b.mudar(EstadoConexao::pronta);
  EXPECT_TRUE(relatorios().empty());

  b.agenda.rodar(1999ms);
  quadros(61);
  b.agenda.rodar(1ms);
  quadros(1);
  b.agenda.rodar(2s);
  quadros(200000);
  b.agenda.rodar(2s);
  b.agenda.rodar(2s);
  EXPECT_EQ(relatorios(), (std::vector<Bytes>{{0, 0, 0, 3, 10, 0, 30},
                                              {0, 0, 0, 3, 10, 0, 0},
                                              {0, 0, 0, 3, 10, 0xFF, 0xFF},
                                              {0, 0, 0, 3, 10, 0, 0}}));
  // The meter saw every frame that became a sample: 73 in its first six seconds.
  EXPECT_EQ(b.linhas.back(), "Recebido: 12 quadros/s · 0.0 Mbps");
}

}  // namespace
}  // namespace orbelo::teste
