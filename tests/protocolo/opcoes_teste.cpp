#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "receptor/OpcoesReceptor.hpp"

extern char** environ;

namespace orbelo {
namespace {

using ::testing::Optional;

const std::string ajudaEsperada =
    "Uso: orbelo [opções]\n"
    "  --codigo XXXXXX  código de pareamento que o Velaro mostra no MacBook\n"
    "                   (sem ele, usa o último que funcionou ou pergunta na tela)\n"
    "  --host IP        conecta direto nesse IP em vez de procurar via Bonjour\n"
    "  --porta N        porta TCP (padrão 7420)\n"
    "  --janela         abre em janela comum em vez de tela cheia (bom para testar)\n"
    "  --tela LxA       informa este tamanho de tela ao MacBook (para testar com --janela)\n"
    "\n"
    "Esc fecha.";

std::variant<OpcoesReceptor, SaidaAntecipada> ler(std::vector<std::string_view> argumentos) {
  argumentos.insert(argumentos.begin(), "/usr/bin/orbelo");
  return OpcoesReceptor::ler(argumentos);
}

OpcoesReceptor aceito(std::vector<std::string_view> argumentos) {
  auto lido = ler(std::move(argumentos));
  if (auto* saida = std::get_if<SaidaAntecipada>(&lido)) {
    ADD_FAILURE() << "refused with: " << saida->texto;
    return {};
  }
  return std::get<OpcoesReceptor>(lido);
}

// The text and status the parser ends with, or none when it accepted the command line.
std::optional<std::pair<std::string, int>> saida(std::vector<std::string_view> argumentos) {
  const auto lido = ler(std::move(argumentos));
  if (const auto* antecipada = std::get_if<SaidaAntecipada>(&lido)) {
    return std::pair(antecipada->texto, antecipada->status);
  }
  return std::nullopt;
}

const auto portaInvalida = Optional(std::pair<std::string, int>("Porta inválida", 1));
const auto telaInvalida = Optional(std::pair<std::string, int>("Use --tela 1920x1080", 1));
const auto codigoCurto =
    Optional(std::pair<std::string, int>("O código precisa ter pelo menos 6 caracteres.", 1));

TEST(OpcoesReceptor, WithoutArgumentsEverythingHasItsDefault) {
  for (const auto& opcoes : {aceito({}), std::get<OpcoesReceptor>(OpcoesReceptor::ler({}))}) {
    EXPECT_EQ(opcoes.host, std::nullopt);
    EXPECT_EQ(opcoes.porta, 7420);
    EXPECT_FALSE(opcoes.janela);
    EXPECT_EQ(opcoes.codigo, std::nullopt);
    EXPECT_FALSE(opcoes.tela.has_value());
  }
}

TEST(OpcoesReceptor, ThePortIsAnUnsigned16BitDecimalNumber) {
  EXPECT_EQ(aceito({"--porta", "65535"}).porta, 65535);
  EXPECT_EQ(aceito({"--porta", "+80"}).porta, 80);
  EXPECT_EQ(aceito({"--porta", "0"}).porta, 0);
  EXPECT_EQ(aceito({"--porta", "-0"}).porta, 0);
  EXPECT_EQ(aceito({"--porta", "0008080"}).porta, 8080);
  for (std::string_view ruim : {"65536", "80a", "", "-1", " 80", "+", "99999999999999999999999", "٨٠"}) {
    EXPECT_THAT(saida({"--porta", ruim}), portaInvalida) << ruim;
  }
  EXPECT_THAT(saida({"--porta"}), portaInvalida);
}

TEST(OpcoesReceptor, TheScreenSizeIsTwoNumbersBetweenLowercaseXs) {
  for (std::string_view bom : {"1920x1080", "ax1920x1080", "x1920xx1080x", "+1920x1080xpx"}) {
    const auto tela = aceito({"--tela", bom}).tela;
    ASSERT_TRUE(tela.has_value()) << bom;
    EXPECT_EQ(tela->largura, 1920);
    EXPECT_EQ(tela->altura, 1080);
  }
  for (std::string_view ruim : {"1920X1080", "1x2x3", "1920", "", "x", "1920x", "axb"}) {
    EXPECT_THAT(saida({"--tela", ruim}), telaInvalida) << ruim;
  }
  EXPECT_THAT(saida({"--janela", "--tela"}), telaInvalida);
}

TEST(OpcoesReceptor, ScreenSizesTheScreenMessageCannotCarryAreRefused) {
  const auto maior = aceito({"--tela", "4294967295x0"}).tela;
  ASSERT_TRUE(maior.has_value());
  EXPECT_EQ(maior->largura, 4294967295);
  EXPECT_EQ(maior->altura, 0);
  EXPECT_THAT(saida({"--tela", "4294967296x1080"}), telaInvalida);
  EXPECT_THAT(saida({"--tela", "-1920x1080"}), telaInvalida);
  EXPECT_THAT(saida({"--tela", "1920x-1"}), telaInvalida);
  // A piece too long for any integer is no number at all and is passed over like text.
  const auto tela = aceito({"--tela", "99999999999999999999x1920x1080"}).tela;
  ASSERT_TRUE(tela.has_value());
  EXPECT_EQ(tela->largura, 1920);
}

TEST(OpcoesReceptor, TheCodeIsNormalisedAndMustKeepSixCharacters) {
  EXPECT_THAT(aceito({"--codigo", "123 456"}).codigo, Optional(std::string("123456")));
  EXPECT_THAT(aceito({"--codigo", "12-34 56"}).codigo, Optional(std::string("123456")));
  EXPECT_THAT(aceito({"--codigo", "abcdefgh"}).codigo, Optional(std::string("abcdefgh")));
  EXPECT_THAT(saida({"--codigo", "12345"}), codigoCurto);
  EXPECT_THAT(saida({"--codigo", "1 2-3 4-5"}), codigoCurto);
  EXPECT_THAT(saida({"--codigo"}), codigoCurto);
}

TEST(OpcoesReceptor, ValuesAreTakenVerbatimAndLaterOptionsWin) {
  const auto opcoes = aceito({"--host", "--janela"});
  EXPECT_THAT(opcoes.host, Optional(std::string("--janela")));
  EXPECT_FALSE(opcoes.janela);

  EXPECT_EQ(aceito({"--host", "10.0.0.2", "--host"}).host, std::nullopt);
  EXPECT_THAT(aceito({"--host", "a", "--host", "b"}).host, Optional(std::string("b")));
  EXPECT_EQ(aceito({"--porta", "1", "--porta", "2"}).porta, 2);
  EXPECT_THAT(aceito({"--codigo", "111111", "--codigo", "222222"}).codigo, Optional(std::string("222222")));
}

TEST(OpcoesReceptor, AllOptionsTogether) {
  const auto opcoes = aceito({"--janela", "--host", "192.168.2.1", "-psn_0_1234", "--porta", "7000",
                              "--codigo", "654 321", "--tela", "1280x800"});
  EXPECT_THAT(opcoes.host, Optional(std::string("192.168.2.1")));
  EXPECT_EQ(opcoes.porta, 7000);
  EXPECT_TRUE(opcoes.janela);
  EXPECT_THAT(opcoes.codigo, Optional(std::string("654321")));
  ASSERT_TRUE(opcoes.tela.has_value());
  EXPECT_EQ(opcoes.tela->largura, 1280);
  EXPECT_EQ(opcoes.tela->altura, 800);
}

TEST(OpcoesReceptor, ArgumentsAreHandledLeftToRightSoTheFirstErrorWins) {
  EXPECT_THAT(saida({"--janela", "--help"}), Optional(std::pair(ajudaEsperada, 0)));
  EXPECT_THAT(saida({"--porta", "x", "--help"}), portaInvalida);
  EXPECT_THAT(saida({"-h", "--porta", "x"}), Optional(std::pair(ajudaEsperada, 0)));
  EXPECT_THAT(saida({"--ajuda"}), Optional(std::pair(ajudaEsperada, 0)));
  EXPECT_THAT(saida({"-x", "--help"}), Optional(std::pair("Opção desconhecida: -x\n\n" + ajudaEsperada, 1)));
  EXPECT_THAT(saida({"--JANELA"}),
              Optional(std::pair("Opção desconhecida: --JANELA\n\n" + ajudaEsperada, 1)));
  EXPECT_THAT(saida({"-psn_0_99", "extra"}),
              Optional(std::pair("Opção desconhecida: extra\n\n" + ajudaEsperada, 1)));
}

// Runs the built program and collects what it wrote and how it ended.
struct Execucao {
  std::string saida;
  std::string erros;
  int status = -1;
};

std::string conteudo(const std::string& caminho) {
  std::ifstream arquivo(caminho, std::ios::binary);
  std::stringstream texto;
  texto << arquivo.rdbuf();
  return texto.str();
}

Execucao executar(std::vector<std::string> argumentos) {
  argumentos.insert(argumentos.begin(), ORBELO_BINARIO);
  std::vector<char*> argv;
  for (auto& argumento : argumentos) {
    argv.push_back(argumento.data());
  }
  argv.push_back(nullptr);

  const auto pasta = testing::TempDir();
  const std::string caminhoSaida = pasta + "orbelo_saida.txt";
  const std::string caminhoErros = pasta + "orbelo_erros.txt";
  posix_spawn_file_actions_t acoes;
  posix_spawn_file_actions_init(&acoes);
  posix_spawn_file_actions_addopen(&acoes, STDOUT_FILENO, caminhoSaida.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&acoes, STDERR_FILENO, caminhoErros.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t filho = 0;
  Execucao execucao;
  if (posix_spawn(&filho, argv[0], &acoes, nullptr, argv.data(), environ) == 0) {
    int estado = 0;
    waitpid(filho, &estado, 0);
    execucao.status = WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
  }
  posix_spawn_file_actions_destroy(&acoes);
  execucao.saida = conteudo(caminhoSaida);
  execucao.erros = conteudo(caminhoErros);
  return execucao;
}

TEST(ProgramaOrbelo, PrintsTheUsageTextAndEndsWithZeroWhenAskedForHelp) {
  const auto execucao = executar({"--janela", "--help"});
  EXPECT_EQ(execucao.saida, ajudaEsperada + "\n");
  EXPECT_EQ(execucao.erros, "");
  EXPECT_EQ(execucao.status, 0);
}

TEST(ProgramaOrbelo, PrintsEachRefusalAsOneMessageOnStandardOutputAndEndsWithOne) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> casos = {
      {{"-x"}, "Opção desconhecida: -x\n\n" + ajudaEsperada + "\n"},
      {{"--porta", "65536"}, "Porta inválida\n"},
      {{"--tela", "1920X1080"}, "Use --tela 1920x1080\n"},
      {{"--codigo", "12 34-5"}, "O código precisa ter pelo menos 6 caracteres.\n"},
  };
  for (const auto& [argumentos, esperado] : casos) {
    const auto execucao = executar(argumentos);
    EXPECT_EQ(execucao.saida, esperado);
    EXPECT_EQ(execucao.erros, "");
    EXPECT_EQ(execucao.status, 1);
  }
}

}  // namespace
}  // namespace orbelo
