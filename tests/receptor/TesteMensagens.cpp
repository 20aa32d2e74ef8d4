#include <gtest/gtest.h>

#include "Bancada.hpp"

namespace orbelo::teste {
namespace {

struct Mensagens : ::testing::Test {
  Bancada b;
  void SetUp() override {
    b.opcoes.codigo = "123456";
    b.opcoes.host = "10.0.0.5";
    b.lancar(std::nullopt);
    b.mudar(EstadoConexao::pronta);
    b.linhas.clear();
  }
};

TEST_F(Mensagens, SeveralInOneChunkAreHandledInOrderBeforeTheNextReceiveAndOwnTypesAreIgnored) {
  EXPECT_EQ(b.conexao().minimo, 1u);
  EXPECT_EQ(b.conexao().maximo, 1048576u);
  b.receber(mensagem(TipoMensagem::config, {0, 0, 7, 0x80, 0, 0, 4, 0x38}) + mensagem(TipoMensagem::ping) +
            mensagem(TipoMensagem::ping, {0xAB, 0xCD}) +
            mensagem(TipoMensagem::config, {0, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(b.linhas, std::vector<std::string>{"Emissor em 1920x1080."});
  EXPECT_EQ(b.conexao().enviados, (std::vector<Bytes>{{0, 0, 0, 1, 9}, {0, 0, 0, 3, 9, 0xAB, 0xCD}}));
  EXPECT_TRUE(b.conexao().aoReceber);
}

TEST_F(Mensagens, FramesWaitForParameterSetsAndThenForAKeyFrame) {
  b.receber(quadro(1));
  b.receber(mensagem(TipoMensagem::parametros, parametrosBons) + quadro(0) + quadro(2));
  EXPECT_TRUE(b.camada.enfileiradas.empty());
  b.receber(quadro(1) + quadro(0) + mensagem(TipoMensagem::quadro, {1}));
  ASSERT_EQ(b.camada.enfileiradas.size(), 2u);
  EXPECT_EQ(b.camada.enfileiradas[0].dados, (Bytes{0, 0, 0, 1, 0x65}));
  EXPECT_EQ(b.camada.enfileiradas[0].formato->sps, (Bytes{0x67, 0x42, 0, 0x1F}));
  EXPECT_TRUE(b.linhas.empty());

  // Bad sets take the format away until good ones come.
  b.receber(mensagem(TipoMensagem::parametros, {0, 2, 0x67}) + quadro(1));
  EXPECT_EQ(b.linhas, std::vector<std::string>{"SPS/PPS inválidos."});
  EXPECT_EQ(b.camada.enfileiradas.size(), 2u);
}

TEST_F(Mensagens, TheFirstFrameClearsTheNoticeAndLaterOnesLeaveItAlone) {
  EXPECT_FALSE(b.tela.avisoOculto);
  b.receber(mensagem(TipoMensagem::parametros, parametrosBons) + quadro(1));
  EXPECT_TRUE(b.tela.avisoOculto);
  EXPECT_TRUE(b.tela.textoAviso.empty());
  b.tela.textoAviso = "marca";
  b.receber(quadro(0));
  EXPECT_EQ(b.tela.textoAviso, "marca");
}

TEST_F(Mensagens, AFrameArrivingWithTheEndOfTheStreamIsShownBeforeReconnecting) {
  b.receber(mensagem(TipoMensagem::parametros, parametrosBons) + quadro(1), true);
  EXPECT_EQ(b.camada.enfileiradas.size(), 1u);
  EXPECT_EQ(b.linhas, std::vector<std::string>{"Conexão encerrada pelo emissor."});
  EXPECT_EQ(b.tela.textoAviso, "Conexão perdida. Tentando de novo…");
  b.agenda.rodar(1s);
  EXPECT_EQ(b.transporte.conexoes.size(), 2u);
}

TEST_F(Mensagens, ACorruptLengthDropsTheChunkAndReconnects) {
  b.receber(mensagem(TipoMensagem::ping) + Bytes{0, 0, 0, 0});
  EXPECT_EQ(b.linhas, std::vector<std::string>{"Dados inválidos do emissor: fluxo de dados corrompido."});
  EXPECT_TRUE(b.conexao().enviados.empty());
  EXPECT_TRUE(b.conexao().cancelada);
  b.agenda.rodar(1s);
  EXPECT_EQ(b.transporte.conexoes.size(), 2u);
}

TEST_F(Mensagens, ReceiveErrorsEndTheConnectionAndATlsOneIsARefusal) {
  b.receber({}, false, erroPosix("Connection reset by peer"));
  EXPECT_EQ(b.linhas, std::vector<std::string>{"Conexão encerrada: Connection reset by peer."});
  b.agenda.rodar(1s);
  b.receber({}, false, erroTls());
  EXPECT_EQ(b.linhas.back(), "O MacBook recusou o código 123456 (bad record mac).");
  EXPECT_FALSE(b.tela.pareamentoOculto);
}

TEST_F(Mensagens, AReplacedConnectionsLateDataAndStatesAreIgnored) {
  auto antiga = b.transporte.conexoes.back();
  auto recebimento = antiga->aoReceber;
  b.mudar(EstadoConexao::falhou, erroPosix("Network is unreachable"));
  b.agenda.rodar(1s);
  b.linhas.clear();
  recebimento(mensagem(TipoMensagem::ping), true, std::nullopt);
  antiga->mudar(EstadoConexao::falhou, erroTls());
  b.agenda.rodar();
  EXPECT_TRUE(b.linhas.empty());
  EXPECT_TRUE(antiga->enviados.empty());
  EXPECT_TRUE(b.tela.pareamentoOculto);
}

}  // namespace
}  // namespace orbelo::teste
