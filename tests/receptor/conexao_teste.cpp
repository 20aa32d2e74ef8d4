#include <gtest/gtest.h>

#include <algorithm>

#include "Bancada.hpp"
#include "receptor/Geometria.hpp"

namespace orbelo::teste {
namespace {

const std::string caboFalhou = "O cabo não levou ao MacBook; tentando por qualquer rede.";
const std::string semAvahi = "A procura pelo MacBook precisa do avahi-daemon; tentando de novo.";

// Discovery, for a blank address typed into the panel: over the cable first, over any network from three
// seconds on, restarted every eight, each restart stopping the search before it, until the end. The first
// result is dialled, over the cable when that is what found it, later ones ignored; the retry after that
// dial fails falls due once the watchdog has started a new search, and starts no other.
TEST(Conexao,
     DiscoveryIsWiredThenAnyNetworkAfterThreeSecondsThenRestartsEveryEightAndTheFirstResultIsDialled) {
  Bancada b;
  b.preferencias.textos = {{"host", "10.0.0.5"}};
  b.lancar();
  b.confirmar("abcdefg", " \t ");
  auto& navegadores = b.transporte.navegadores;
  ASSERT_EQ(navegadores.size(), 1u);
  EXPECT_TRUE(navegadores[0]->parametros.exigirCabo && navegadores[0]->iniciado);
  EXPECT_EQ(b.tela.textoAviso, "Procurando o MacBook pelo cabo…\nAbra o Velaro nele.");
  // No avahi-daemon: said once for the whole run, however many attempts find it missing.
  navegadores[0]->aoFaltar();
  navegadores[0]->aoFaltar();

  b.agenda.rodar(2500ms);
  navegadores[0]->aoMudar({});
  EXPECT_TRUE(b.transporte.conexoes.empty());
  navegadores[0]->aoMudar({resultado("A"), resultado("B")});
  b.agenda.rodar();
  ASSERT_EQ(b.transporte.conexoes.size(), 1u);
  EXPECT_EQ(b.conexao().resultado->nome, "A");
  EXPECT_TRUE(b.conexao().parametros.exigirCabo && navegadores[0]->cancelado);
  EXPECT_EQ(b.tela.textoAviso, "Conectando pelo cabo…");
  b.mudar(EstadoConexao::falhou, erroPosix("Connection reset by peer"));

  b.agenda.rodar(400ms);
  EXPECT_EQ(navegadores.size(), 1u);
  b.agenda.rodar(100ms);
  ASSERT_EQ(navegadores.size(), 2u);
  EXPECT_EQ(b.linhas,
            (std::vector{semAvahi, std::string("Falha na conexão pelo cabo: Connection reset by peer"),
                         caboFalhou}));
  navegadores[1]->aoFaltar();
  navegadores[0]->aoMudar({resultado("D")});
  b.agenda.rodar();
  EXPECT_EQ(b.transporte.conexoes.size(), 1u) << "a replaced search's late result";
  EXPECT_FALSE(navegadores[1]->parametros.exigirCabo);

  b.agenda.rodar(7900ms);
  EXPECT_EQ(navegadores.size(), 2u) << "the failed dial's retry started a search of its own";
  b.agenda.rodar(100ms);
  EXPECT_EQ(navegadores.size(), 3u);
  EXPECT_TRUE(navegadores[1]->cancelado && !navegadores[2]->parametros.exigirCabo);
  EXPECT_EQ(b.linhas.size(), 3u);

  // Found and ready: the typed code is remembered and the stored address forgotten.
  navegadores[2]->aoMudar({resultado("E")});
  b.mudar(EstadoConexao::pronta);
  EXPECT_EQ(b.preferencias.texto("codigo"), "abcdefg");
  EXPECT_FALSE(b.preferencias.texto("host"));
  // Ended while it looks again: the search goes and nothing restarts.
  b.receber({}, true);
  b.agenda.rodar(1s);
  b.receptor->encerrar();
  b.agenda.rodar(20s);
  EXPECT_TRUE(navegadores[3]->cancelado);
  EXPECT_EQ(navegadores.size(), 4u);
}

// A notice without a button hides the local pointer, one hide outstanding at a time, and the
// panel shows it again.
TEST(Conexao, FailedWiredDialIsLoggedAndRetriedOneSecondLaterWithoutTheCable) {
  Bancada b;
  b.discar(false);
  const auto cursorLocal = [&] {
    return std::to_string(b.cursorLocal.escondidas) + " " + std::to_string(b.cursorLocal.mostradas);
  };
  EXPECT_TRUE(b.conexao().parametros.exigirCabo && b.conexao().iniciada);
  EXPECT_EQ(b.tela.textoAviso, "Conectando a 10.0.0.5 pelo cabo…");

  b.mudar(EstadoConexao::falhou, erroPosix("Connection refused"));
  EXPECT_EQ(b.linhas, std::vector<std::string>{"Falha na conexão pelo cabo: Connection refused"});
  EXPECT_TRUE(b.conexao().cancelada);
  EXPECT_EQ(b.tela.textoAviso, "Conexão perdida. Tentando de novo…");

  b.agenda.rodar(900ms);
  EXPECT_EQ(b.transporte.conexoes.size(), 1u);
  b.agenda.rodar(100ms);
  ASSERT_EQ(b.transporte.conexoes.size(), 2u);
  EXPECT_FALSE(b.conexao().parametros.exigirCabo);
  EXPECT_EQ(b.tela.textoAviso, "Conectando a 10.0.0.5…");

  // Ready: registered at login once; the picture then takes the notice away.
  b.mudar(EstadoConexao::pronta);
  EXPECT_EQ(b.tela.textoAviso, "Conectado. Esperando a imagem…");
  EXPECT_TRUE(b.tela.botaoAvisoOculto);
  b.iniciarImagem();
  EXPECT_EQ(cursorLocal(), "1 0");

  // Once a connection has worked and broken, the cable gets another chance.
  b.receber({}, true);
  b.agenda.rodar(1s);
  ASSERT_EQ(b.transporte.conexoes.size(), 3u);
  EXPECT_TRUE(b.conexao().parametros.exigirCabo);
  EXPECT_EQ(cursorLocal(), "1 1");
  // A later connection neither registers again nor needs an interface name; the watchdogs of the
  // superseded and of the ready attempt do nothing.
  b.conexao().interfaceNome = std::nullopt;
  b.mudar(EstadoConexao::pronta);
  EXPECT_NE(b.linhas.back().find(" por ?, "), std::string::npos);
  EXPECT_EQ(b.inicio.ligacoes, 1);
  b.agenda.rodar(20s);
  EXPECT_EQ(std::ranges::count(b.linhas, caboFalhou), 0);
  // Opening the panel stops dialling: no attempt follows, nor did one before.
  b.receptor->abrirPareamento();
  b.agenda.rodar(10s);
  EXPECT_TRUE(b.conexao().cancelada && b.transporte.conexoes.size() == 3u);
  EXPECT_EQ(cursorLocal(), "2 2");
}

// Moved to another monitor, a full-screen receiver tells the sender at once, and once.
TEST(Lancamento, TheAnnouncedScreenIsTheOptionElseTheMonitorInFullScreenElseNone) {
  const Bytes de100x200 = mensagem(TipoMensagem::telaReceptor, {0, 0, 0, 100, 0, 0, 0, 200, 0, 0, 0, 1});
  const Bytes do2560x1440 = mensagem(TipoMensagem::telaReceptor, {0, 0, 0x0A, 0, 0, 0, 5, 0xA0, 0, 0, 0, 1});
  const Bytes do3840x2160 = mensagem(TipoMensagem::telaReceptor, {0, 0, 0x0F, 0, 0, 0, 8, 0x70, 0, 0, 0, 1});
  for (const auto& [opcao, janela, esperado] :
       std::vector<std::tuple<std::optional<TamanhoTela>, bool, std::vector<Bytes>>>{
           {TamanhoTela{100, 200}, false, {de100x200}},
           {TamanhoTela{100, 200}, true, {de100x200}},
           {std::nullopt, false, {do2560x1440, do3840x2160}},
           {std::nullopt, true, {}}}) {
    Bancada b;
    b.opcoes = {.host = "10.0.0.5", .janela = janela, .codigo = "123456", .tela = opcao};
    b.lancar(TamanhoTela{2560, 1440});
    b.receptor->mudouDeMonitor({2560, 1440});
    b.agenda.rodar();
    b.mudar(EstadoConexao::pronta);
    b.receptor->mudouDeMonitor({3840, 2160});
    b.receptor->mudouDeMonitor({3840, 2160});
    b.agenda.rodar();
    EXPECT_EQ(b.conexao().enviados, esperado) << janela;
    EXPECT_EQ(b.cursorLocal.escondidas, janela ? 0 : 1) << "a window leaves the local pointer alone";
  }
}

TEST(Lancamento, TheMonitorChosenIsTheOneHoldingThePointerElseTheNearest) {
  const std::vector<Retangulo> lado{{0, 0, 1920, 1080}, {1920, -200, 2560, 1440}};
  for (const auto& [x, y, esperado] : std::vector<std::tuple<double, double, std::size_t>>{
           {1919, 1079, 0},
           {1920, 0, 1},
           {3000, -150, 1},  // inside, edges shared
           {1000, 1200, 0},
           {4600, 1300, 1},
           {-50, -500, 0},  // in no monitor: the nearest
       }) {
    EXPECT_EQ(monitorDoPonto(lado, x, y), esperado) << x << "," << y;
  }
  const std::vector<Retangulo> espelhados{{0, 0, 1920, 1080}, {0, 0, 1920, 1080}};
  EXPECT_EQ(monitorDoPonto(espelhados, 10, 10), 0u);
  EXPECT_EQ(monitorDoPonto({}, 10, 10), 0u);
}

// Without a usable code the panel shows, empty, with the stored host; a short code typed shows the
// error; a good one is normalised, the host trimmed, and the login choice applied once where installed.
TEST(Painel, WithoutAUsableCodeThePanelShowsAndATypedCodeIsCheckedNormalisedAndAppliesTheLoginChoice) {
  for (const auto& [instalado, noLogin] : {std::pair(true, true), {true, false}, {false, true}}) {
    Bancada b;
    b.preferencias.textos = {{"codigo", "12-345"}, {"host", "10.0.0.5"}};
    b.inicio.eInstalado = instalado;
    b.inicio.entrada = true;
    b.lancar();
    EXPECT_EQ(b.inicio.ligacoes, 1);  // an existing login entry is rewritten
    EXPECT_TRUE(b.transporte.conexoes.empty() && b.transporte.navegadores.empty());
    EXPECT_EQ(b.tela.opcaoInicioOculta, !instalado);
    EXPECT_TRUE(!b.tela.pareamentoOculto && b.tela.pilhaAvisoOculta && b.tela.erroPareamentoOculto &&
                b.tela.focarCodigo && b.tela.opcaoInicio);
    EXPECT_EQ(b.tela.campoCodigo + "|" + b.tela.campoHost, "|10.0.0.5");

    b.inicio.ligacoes = 0;
    b.confirmar("12 3-45", "10.0.0.5");
    EXPECT_EQ(b.tela.erroPareamento, "O código tem 6 dígitos.");
    EXPECT_FALSE(b.tela.erroPareamentoOculto || b.tela.pareamentoOculto || !b.transporte.conexoes.empty());
    EXPECT_EQ(b.inicio.ligacoes + b.inicio.desligamentos, 0);
    EXPECT_FALSE(b.preferencias.booleano("inicioConfigurado"));

    b.tela.opcaoInicio = noLogin;
    b.confirmar(" 123-456 ", "\t 10.0.0.5\u3000\u00A0");
    ASSERT_EQ(b.transporte.conexoes.size(), 1u);
    EXPECT_EQ(b.conexao().host, "10.0.0.5");
    EXPECT_TRUE(b.tela.pareamentoOculto && !b.tela.pilhaAvisoOculta);
    b.mudar(EstadoConexao::pronta);
    EXPECT_EQ(b.inicio.entrada, noLogin);
    EXPECT_EQ(b.inicio.ligacoes + b.inicio.desligamentos, instalado ? 1 : 0)
        << "the choice, once where installed, and a success adds none";
    EXPECT_EQ(b.preferencias.booleano("inicioConfigurado"), instalado);
  }
}

// The code the sender refuses, whether remembered (normalised), given on the command line with a host
// or typed into the panel: only a remembered one is forgotten, and the panel says why, with the host in use.
TEST(Painel, ARefusedCodeForgetsOnlyARememberedOneAndThePanelShowsTheRefusalAndTheHost) {
  for (const auto& [origem, codigo, host] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"remembered", "111111", "10.0.0.5"},
           {"command line", "222222", "10.0.0.9"},
           {"panel", "333333", "10.0.0.7\n"}}) {  // a line break is no blank: taken as typed
    Bancada b;
    b.preferencias.textos = {{"codigo", " 111-111"}, {"host", "10.0.0.5"}};
    if (origem == "command line") {
      b.opcoes = {.host = host, .codigo = codigo, .tela = {}};
    }
    b.lancar();
    if (origem == "panel") {
      b.confirmar(codigo, host);
    }
    EXPECT_EQ(b.conexao().parametros.chave, Pareamento::derivarChave(codigo));
    b.mudar(EstadoConexao::falhou, erroTls);
    EXPECT_EQ(b.linhas.back(), "O MacBook recusou o código " + codigo + " (bad record mac).");
    EXPECT_EQ(b.preferencias.texto("codigo"),
              origem == "remembered" ? std::nullopt : std::optional<std::string>(" 111-111"))
        << origem;
    EXPECT_FALSE(b.tela.pareamentoOculto || b.tela.erroPareamentoOculto) << origem;
    EXPECT_EQ(b.tela.campoCodigo + "|" + b.tela.campoHost, "|" + host) << origem;
    b.agenda.rodar(10s);
    EXPECT_EQ(b.transporte.conexoes.size(), origem == "panel" ? 2u : 1u) << "a refusal is not retried";
  }
}

}  // namespace
}  // namespace orbelo::teste
