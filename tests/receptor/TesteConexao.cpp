#include <gtest/gtest.h>

#include "Bancada.hpp"

namespace orbelo::teste {
namespace {

const std::string caboFalhou = "O cabo não levou ao MacBook; tentando por qualquer rede.";

Bancada comCodigo(std::optional<std::string> host = {}) {
  Bancada b;
  b.opcoes.codigo = "123456";
  b.opcoes.host = std::move(host);
  return b;
}

TEST(Conexao, FirstAttemptIsWiredThenAnyNetworkAfterThreeSecondsThenRestartsEveryEight) {
  Bancada b = comCodigo();
  b.lancar();
  auto& navegadores = b.transporte.navegadores;
  ASSERT_EQ(navegadores.size(), 1u);
  EXPECT_TRUE(navegadores[0]->parametros.exigirCabo && navegadores[0]->iniciado);
  EXPECT_EQ(b.tela.textoAviso, "Procurando o MacBook pelo cabo…\nAbra o Velaro nele.");
  EXPECT_FALSE(b.tela.botaoAvisoOculto);

  b.agenda.rodar(2900ms);
  EXPECT_EQ(navegadores.size(), 1u);
  b.agenda.rodar(100ms);
  ASSERT_EQ(navegadores.size(), 2u);
  EXPECT_EQ(b.linhas, std::vector{caboFalhou});
  EXPECT_TRUE(navegadores[0]->cancelado);
  EXPECT_FALSE(navegadores[1]->parametros.exigirCabo);
  EXPECT_EQ(b.tela.textoAviso, "Procurando o MacBook…\nAbra o Velaro nele.");
  navegadores[0]->aoMudar({resultado("A")});
  EXPECT_TRUE(b.transporte.conexoes.empty());

  b.agenda.rodar(7900ms);
  EXPECT_EQ(navegadores.size(), 2u);
  b.agenda.rodar(100ms);
  EXPECT_EQ(navegadores.size(), 3u);
  EXPECT_FALSE(navegadores[2]->parametros.exigirCabo);
  EXPECT_EQ(b.linhas.size(), 1u);
}

TEST(Conexao, FailedWiredDialIsLoggedAndRetriedOneSecondLaterWithoutTheCable) {
  Bancada b = comCodigo("10.0.0.5");
  b.lancar();
  EXPECT_EQ(b.conexao().host, "10.0.0.5");
  EXPECT_EQ(b.conexao().porta, 7420);
  EXPECT_TRUE(b.conexao().parametros.exigirCabo && b.conexao().iniciada);
  EXPECT_EQ(b.tela.textoAviso, "Conectando a 10.0.0.5 pelo cabo…");

  b.mudar(EstadoConexao::falhou, erroPosix("Connection refused"));
  EXPECT_EQ(b.linhas, std::vector<std::string>{"Falha na conexão pelo cabo: Connection refused"});
  EXPECT_TRUE(b.conexao().cancelada);
  EXPECT_EQ(b.camada.remocoes, 1);
  EXPECT_EQ(b.tela.textoAviso, "Conexão perdida. Tentando de novo…");
  EXPECT_FALSE(b.tela.botaoAvisoOculto);

  b.agenda.rodar(900ms);
  EXPECT_EQ(b.transporte.conexoes.size(), 1u);
  b.agenda.rodar(100ms);
  ASSERT_EQ(b.transporte.conexoes.size(), 2u);
  EXPECT_FALSE(b.conexao().parametros.exigirCabo);
  EXPECT_EQ(b.tela.textoAviso, "Conectando a 10.0.0.5…");

  // Once a connection has worked and broken, the cable gets another chance.
  b.mudar(EstadoConexao::pronta);
  b.receber({}, true);
  EXPECT_EQ(b.linhas.back(), "Conexão encerrada pelo emissor.");
  b.agenda.rodar(1s);
  ASSERT_EQ(b.transporte.conexoes.size(), 3u);
  EXPECT_TRUE(b.conexao().parametros.exigirCabo);
}

TEST(Conexao, WatchdogOfASupersededOrReadyAttemptDoesNothing) {
  Bancada b = comCodigo("10.0.0.5");
  b.lancar();
  b.agenda.rodar(500ms);
  b.mudar(EstadoConexao::falhou, erroPosix("Connection refused"));
  b.agenda.rodar(1s);
  b.mudar(EstadoConexao::pronta);
  b.agenda.rodar(20s);
  EXPECT_EQ(b.transporte.conexoes.size(), 2u);
  EXPECT_EQ(std::count(b.linhas.begin(), b.linhas.end(), caboFalhou), 0);
}

TEST(Conexao, RetryThatFallsDueAfterTheWatchdogStartedANewAttemptStartsNoOther) {
  Bancada b = comCodigo();
  b.lancar();
  b.agenda.rodar(2500ms);
  b.transporte.navegadores[0]->aoMudar({resultado("MacBook")});
  b.mudar(EstadoConexao::falhou, erroPosix("Connection reset by peer"));
  b.agenda.rodar(2s);
  EXPECT_EQ(b.transporte.navegadores.size(), 2u);
  EXPECT_FALSE(b.transporte.navegadores[1]->cancelado);
}

TEST(Conexao, FirstBrowseResultIsDialledAndLaterResultsAreIgnored) {
  Bancada b = comCodigo();
  b.lancar();
  auto& navegador = *b.transporte.navegadores[0];
  navegador.aoMudar({});
  EXPECT_TRUE(b.transporte.conexoes.empty());

  navegador.aoMudar({resultado("A"), resultado("B")});
  b.agenda.rodar();
  ASSERT_EQ(b.transporte.conexoes.size(), 1u);
  EXPECT_EQ(b.conexao().resultado->nome, "A");
  EXPECT_TRUE(b.conexao().parametros.exigirCabo);
  EXPECT_TRUE(navegador.cancelado);
  EXPECT_EQ(b.tela.textoAviso, "Conectando pelo cabo…");

  navegador.aoMudar({resultado("C")});
  EXPECT_EQ(b.transporte.conexoes.size(), 1u);
}

TEST(Conexao, ARefusalStopsAndBringsThePanelBackAndOnlyARememberedCodeIsForgotten) {
  for (const bool lembrado : {true, false}) {
    Bancada b;
    b.preferencias.textos = {{"codigo", "123456"}, {"host", "10.0.0.5"}};
    if (!lembrado) b.opcoes.codigo = "654321";
    b.lancar();
    b.mudar(lembrado ? EstadoConexao::falhou : EstadoConexao::esperando, erroTls());
    EXPECT_EQ(b.linhas.back(), lembrado ? "O MacBook recusou o código 123456 (bad record mac)."
                                        : "O MacBook recusou o código 654321 (bad record mac).");
    EXPECT_EQ(b.preferencias.texto("codigo"), lembrado ? std::nullopt : std::optional<std::string>("123456"));
    EXPECT_EQ(b.preferencias.texto("host"), "10.0.0.5");
    EXPECT_TRUE(b.conexao().cancelada);
    EXPECT_FALSE(b.tela.pareamentoOculto || b.tela.erroPareamentoOculto);
    EXPECT_EQ(b.tela.campoCodigo, "");
    EXPECT_EQ(b.tela.campoHost, "10.0.0.5");
    EXPECT_EQ(b.tela.erroPareamento,
              "O MacBook recusou esse código. Confira o código no ícone do Velaro, na barra de menus dele.");
    b.agenda.rodar(30s);
    EXPECT_EQ(b.transporte.conexoes.size(), 1u);
  }
}

TEST(Conexao, ReadyConnectionIsLoggedRememberedAnnouncedAndRegistersAtLoginOnce) {
  Bancada b = comCodigo("10.0.0.5");
  b.lancar(TamanhoTela{2560, 1440});
  b.mudar(EstadoConexao::pronta);
  EXPECT_EQ(b.linhas, std::vector<std::string>{"Conectado a 127.0.0.1:7420 por eth0, cifrado com "
                                               "ECDHE_PSK_WITH_CHACHA20_POLY1305_SHA256."});
  EXPECT_EQ(b.preferencias.texto("codigo"), "123456");
  EXPECT_EQ(b.preferencias.texto("host"), "10.0.0.5");
  EXPECT_EQ(b.inicio.ligacoes, 1);
  EXPECT_TRUE(b.preferencias.booleano("inicioConfigurado"));
  EXPECT_EQ(b.tela.textoAviso, "Conectado. Esperando a imagem…");
  EXPECT_TRUE(b.tela.botaoAvisoOculto);
  EXPECT_EQ(b.conexao().enviados,
            (std::vector<Bytes>{{0, 0, 0, 0x0D, 5, 0, 0, 0x0A, 0, 0, 0, 0x05, 0xA0, 0, 0, 0, 1}}));

  b.receber({}, true);
  b.agenda.rodar(1s);
  b.conexao().interfaceNome = std::nullopt;
  b.mudar(EstadoConexao::pronta);
  EXPECT_EQ(b.inicio.ligacoes, 1);
  EXPECT_NE(b.linhas.back().find(" por ?, "), std::string::npos);
}

TEST(Conexao, OutsideAnInstalledCopyTheFirstSuccessLeavesLaunchAtLoginAlone) {
  Bancada b = comCodigo("10.0.0.5");
  b.inicio.eInstalado = false;
  b.lancar();
  b.mudar(EstadoConexao::pronta);
  EXPECT_EQ(b.inicio.ligacoes, 0);
  EXPECT_FALSE(b.preferencias.booleano("inicioConfigurado"));
}

}  // namespace
}  // namespace orbelo::teste
