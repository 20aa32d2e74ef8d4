#include <gtest/gtest.h>

#include "Bancada.hpp"
#include "protocolo/Pareamento.hpp"

namespace orbelo::teste {
namespace {

TEST(Lancamento, WithoutAUsableCodeThePanelShowsEmptyWithTheStoredHostAndKeepsTheStoredCode) {
  Bancada b;
  b.preferencias.textos = {{"codigo", "12-345"}, {"host", "10.0.0.5"}};
  b.inicio.entrada = true;
  b.lancar();
  EXPECT_EQ(b.inicio.ligacoes, 1);  // an existing login entry is rewritten
  EXPECT_TRUE(b.transporte.conexoes.empty() && b.transporte.navegadores.empty());
  EXPECT_FALSE(b.tela.pareamentoOculto);
  EXPECT_TRUE(b.tela.pilhaAvisoOculta);
  EXPECT_EQ(b.tela.campoCodigo, "");
  EXPECT_EQ(b.tela.campoHost, "10.0.0.5");
  EXPECT_TRUE(b.tela.erroPareamentoOculto);
  EXPECT_TRUE(b.tela.focarCodigo);
  EXPECT_TRUE(b.tela.opcaoInicio);
  EXPECT_FALSE(b.tela.opcaoInicioOculta);
  EXPECT_EQ(b.preferencias.texto("codigo"), "12-345");
}

TEST(Lancamento, CommandLineValuesWinOverStoredOnesAndAStoredCodeIsNormalised) {
  Bancada dada;
  dada.opcoes.codigo = "654321";
  dada.opcoes.host = "10.0.0.9";
  dada.preferencias.textos = {{"codigo", "123456"}, {"host", "10.0.0.5"}};
  dada.lancar();
  EXPECT_EQ(dada.conexao().host, "10.0.0.9");
  EXPECT_EQ(dada.conexao().parametros.chave, Pareamento::derivarChave("654321"));

  Bancada lembrada;
  lembrada.preferencias.textos = {{"codigo", " 123-456"}, {"host", "10.0.0.5"}};
  lembrada.lancar();
  EXPECT_EQ(lembrada.conexao().host, "10.0.0.5");
  EXPECT_EQ(lembrada.conexao().parametros.chave, Pareamento::derivarChave("123456"));
}

TEST(Lancamento, TheAnnouncedScreenIsTheOptionElseTheMonitorInFullScreenElseNone) {
  struct Caso {
    std::optional<TamanhoTela> opcao;
    bool janela;
    std::vector<Bytes> esperado;
  };
  const Bytes de100x200 = mensagem(TipoMensagem::telaReceptor, {0, 0, 0, 100, 0, 0, 0, 200, 0, 0, 0, 1});
  const Bytes do2560x1440 = mensagem(TipoMensagem::telaReceptor, {0, 0, 0x0A, 0, 0, 0, 5, 0xA0, 0, 0, 0, 1});
  for (const Caso& caso :
       {Caso{TamanhoTela{100, 200}, false, {de100x200}}, Caso{TamanhoTela{100, 200}, true, {de100x200}},
        Caso{std::nullopt, false, {do2560x1440}}, Caso{std::nullopt, true, {}}}) {
    Bancada b;
    b.opcoes = {.host = "10.0.0.5", .janela = caso.janela, .codigo = "123456", .tela = caso.opcao};
    b.lancar(TamanhoTela{2560, 1440});
    b.mudar(EstadoConexao::pronta);
    EXPECT_EQ(b.conexao().enviados, caso.esperado) << caso.janela;
  }
}

struct Painel : ::testing::Test {
  Bancada b;
  void SetUp() override { b.lancar(); }
  void confirmar(std::string codigo, std::string host = "") {
    b.tela.campoCodigo = std::move(codigo);
    b.tela.campoHost = std::move(host);
    b.receptor->confirmarPareamento();
    b.agenda.rodar();
  }
};

TEST_F(Painel, ConfirmingNormalisesTheCodeTrimsTheHostAndAppliesTheLoginChoice) {
  confirmar(" 123-456 ", "\t 10.0.0.5\u3000\u00A0");
  ASSERT_EQ(b.transporte.conexoes.size(), 1u);
  EXPECT_EQ(b.conexao().host, "10.0.0.5");
  EXPECT_EQ(b.conexao().parametros.chave, Pareamento::derivarChave("123456"));
  EXPECT_TRUE(b.tela.pareamentoOculto);
  EXPECT_FALSE(b.tela.pilhaAvisoOculta);
  EXPECT_EQ(b.inicio.ligacoes, 1);
  EXPECT_TRUE(b.inicio.entrada);
  EXPECT_TRUE(b.preferencias.booleano("inicioConfigurado"));
}

TEST_F(Painel, AShortCodeShowsTheErrorAndChangesNothingElse) {
  confirmar("12 3-45", "10.0.0.5");
  EXPECT_EQ(b.tela.erroPareamento, "O código tem 6 dígitos.");
  EXPECT_FALSE(b.tela.erroPareamentoOculto);
  EXPECT_FALSE(b.tela.pareamentoOculto);
  EXPECT_TRUE(b.transporte.conexoes.empty());
  EXPECT_EQ(b.inicio.ligacoes + b.inicio.desligamentos, 0);
  EXPECT_FALSE(b.preferencias.booleano("inicioConfigurado"));
}

TEST_F(Painel, ABlankHostMeansDiscoveryWhichForgetsTheStoredHostOnSuccess) {
  b.preferencias.textos = {{"host", "10.0.0.5"}};
  confirmar("abcdefg", " \t ");
  ASSERT_EQ(b.transporte.navegadores.size(), 1u);
  b.transporte.navegadores[0]->aoMudar({resultado("A")});
  b.mudar(EstadoConexao::pronta);
  EXPECT_EQ(b.preferencias.texto("codigo"), "abcdefg");
  EXPECT_FALSE(b.preferencias.texto("host"));

  // Line breaks are not blanks: the address is taken as typed.
  confirmar("123456", "10.0.0.5\n");
  EXPECT_EQ(b.conexao().host, "10.0.0.5\n");
}

TEST_F(Painel, OpeningItStopsTheConnectionShowsTheValuesInUseAndRemembersALoginRefusal) {
  b.tela.opcaoInicio = false;
  confirmar("123456", "10.0.0.5");
  EXPECT_EQ(b.inicio.desligamentos, 1);
  b.mudar(EstadoConexao::pronta);
  b.receptor->abrirPareamento();
  b.agenda.rodar();
  EXPECT_TRUE(b.conexao().cancelada);
  EXPECT_EQ(b.tela.campoCodigo, "123456");
  EXPECT_EQ(b.tela.campoHost, "10.0.0.5");
  EXPECT_FALSE(b.tela.opcaoInicio);
  EXPECT_EQ(b.camada.remocoes, 2);
  b.agenda.rodar(30s);
  EXPECT_EQ(b.transporte.conexoes.size(), 1u);
}

TEST(PainelForaDeUmaInstalacao, TheLoginChoiceIsHiddenAndNeverApplied) {
  Bancada b;
  b.inicio.eInstalado = false;
  b.lancar();
  EXPECT_TRUE(b.tela.opcaoInicioOculta);
  b.tela.campoCodigo = "123456";
  b.receptor->confirmarPareamento();
  b.agenda.rodar();
  EXPECT_EQ(b.inicio.ligacoes + b.inicio.desligamentos, 0);
  EXPECT_FALSE(b.preferencias.booleano("inicioConfigurado"));
}

TEST(Avisos, TheLocalPointerHidesForNoticesWithoutAButtonOnlyOnceAndNeverInAWindow) {
  for (const bool janela : {false, true}) {
    Bancada b;
    b.opcoes = {.host = "10.0.0.5", .janela = janela, .codigo = "123456", .tela = {}};
    b.lancar();
    EXPECT_EQ(b.cursorLocal.escondidas, 0);
    b.mudar(EstadoConexao::pronta);
    b.receber(mensagem(TipoMensagem::parametros, parametrosBons) + quadro(1));
    EXPECT_TRUE(b.tela.avisoOculto && b.tela.botaoAvisoOculto);
    EXPECT_EQ(b.cursorLocal.escondidas, janela ? 0 : 1);
    b.receber({}, true);
    b.agenda.rodar(1s);
    EXPECT_EQ(b.tela.textoAviso, "Conectando a 10.0.0.5 pelo cabo…");
    EXPECT_EQ(b.cursorLocal.mostradas, janela ? 0 : 1);
    b.mudar(EstadoConexao::pronta);
    b.receptor->abrirPareamento();
    b.agenda.rodar();
    EXPECT_EQ(b.cursorLocal.escondidas, janela ? 0 : 2);
    EXPECT_EQ(b.cursorLocal.mostradas, janela ? 0 : 2);
  }
}

}  // namespace
}  // namespace orbelo::teste
