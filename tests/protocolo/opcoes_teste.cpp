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

const std::string ajuda =
    "Uso: orbelo [opções]\n"
    "  --codigo XXXXXX  código de pareamento que o Velaro mostra no MacBook\n"
    "                   (sem ele, usa o último que funcionou ou pergunta na tela)\n"
    "  --host IP        conecta direto nesse IP em vez de procurar via Bonjour\n"
    "  --porta N        porta TCP (padrão 7420)\n"
    "  --janela         abre em janela comum em vez de tela cheia (bom para testar)\n"
    "  --tela LxA       informa este tamanho de tela ao MacBook (para testar com --janela)\n"
    "\n"
    "Esc fecha.";
const std::string portaInvalida = "Porta inválida";
const std::string telaInvalida = "Use --tela 1920x1080";
const std::string codigoCurto = "O código precisa ter pelo menos 6 caracteres.";

using Argumentos = std::vector<std::string_view>;

std::variant<OpcoesReceptor, SaidaAntecipada> ler(Argumentos argumentos) {
  argumentos.insert(argumentos.begin(), "/usr/bin/orbelo");
  return OpcoesReceptor::ler(argumentos);
}

OpcoesReceptor aceito(const Argumentos& argumentos) {
  auto lido = ler(argumentos);
  if (const auto* saida = std::get_if<SaidaAntecipada>(&lido)) {
    ADD_FAILURE() << "refused with: " << saida->texto;
    return {};
  }
  return std::get<OpcoesReceptor>(lido);
}

// "text|status" of an early end, "aceito" when parsing went through.
std::string desfecho(const Argumentos& argumentos) {
  const auto lido = ler(argumentos);
  const auto* saida = std::get_if<SaidaAntecipada>(&lido);
  return saida ? saida->texto + "|" + std::to_string(saida->status) : "aceito";
}

std::string tela(const OpcoesReceptor& opcoes) {
  return opcoes.tela ? std::to_string(opcoes.tela->largura) + "x" + std::to_string(opcoes.tela->altura) : "-";
}

TEST(OpcoesReceptor, WithoutArgumentsEverythingHasItsDefault) {
  for (const auto& opcoes : {aceito({}), std::get<OpcoesReceptor>(OpcoesReceptor::ler({}))}) {
    EXPECT_EQ(opcoes.host, std::nullopt);
    EXPECT_EQ(opcoes.porta, 7420);
    EXPECT_FALSE(opcoes.janela);
    EXPECT_EQ(opcoes.codigo, std::nullopt);
    EXPECT_EQ(tela(opcoes), "-");
  }
}

TEST(OpcoesReceptor, ValuesAreReadStrictlyAndLaterOptionsWin) {
  EXPECT_EQ(aceito({"--porta", "65535"}).porta, 65535);
  EXPECT_EQ(aceito({"--porta", "+80"}).porta, 80);
  EXPECT_EQ(aceito({"--porta", "-0"}).porta, 0);
  EXPECT_EQ(aceito({"--porta", "1", "--porta", "0008080"}).porta, 8080);
  EXPECT_EQ(tela(aceito({"--tela", "1920x1080"})), "1920x1080");
  EXPECT_EQ(tela(aceito({"--tela", "ax1920x1080"})), "1920x1080");
  EXPECT_EQ(tela(aceito({"--tela", "x+1920xx1080xpx"})), "1920x1080");
  EXPECT_EQ(tela(aceito({"--tela", "4294967295x0"})), "4294967295x0");
  // A piece too long for any integer is no number, passed over like text.
  EXPECT_EQ(tela(aceito({"--tela", "99999999999999999999x1920x1080"})), "1920x1080");
  EXPECT_EQ(aceito({"--codigo", "12-34 56"}).codigo, "123456");
  EXPECT_EQ(aceito({"--codigo", "111111", "--codigo", "abcdefgh"}).codigo, "abcdefgh");
  EXPECT_EQ(aceito({"--host", "a", "--host", "b"}).host, "b");
  EXPECT_EQ(aceito({"--host", "10.0.0.2", "--host"}).host, std::nullopt);

  const auto opcoes = aceito({"-psn_0_1234", "--host", "--janela"});
  EXPECT_EQ(opcoes.host, "--janela");
  EXPECT_FALSE(opcoes.janela);
  EXPECT_TRUE(aceito({"--janela"}).janela);
}

TEST(OpcoesReceptor, BadValuesEndWithTheirMessageAndStatusOne) {
  for (std::string_view porta : {"65536", "80a", "", "-1", " 80", "+", "99999999999999999999999", "٨٠"}) {
    EXPECT_EQ(desfecho({"--porta", porta}), portaInvalida + "|1") << porta;
  }
  EXPECT_EQ(desfecho({"--porta"}), portaInvalida + "|1");
  for (std::string_view valor : {"1920X1080", "1x2x3", "1920", "", "axb", "-1920x1080", "1920x4294967296"}) {
    EXPECT_EQ(desfecho({"--tela", valor}), telaInvalida + "|1") << valor;
  }
  EXPECT_EQ(desfecho({"--janela", "--tela"}), telaInvalida + "|1");
  EXPECT_EQ(desfecho({"--codigo", "1 2-3 4-5"}), codigoCurto + "|1");
  EXPECT_EQ(desfecho({"--codigo"}), codigoCurto + "|1");
}

TEST(OpcoesReceptor, ArgumentsAreHandledLeftToRightSoTheFirstEndWins) {
  EXPECT_EQ(desfecho({"--janela", "--help"}), ajuda + "|0");
  EXPECT_EQ(desfecho({"-h", "--porta", "x"}), ajuda + "|0");
  EXPECT_EQ(desfecho({"--ajuda"}), ajuda + "|0");
  EXPECT_EQ(desfecho({"--porta", "x", "--help"}), portaInvalida + "|1");
  EXPECT_EQ(desfecho({"-x", "--help"}), "Opção desconhecida: -x\n\n" + ajuda + "|1");
  EXPECT_EQ(desfecho({"--JANELA"}), "Opção desconhecida: --JANELA\n\n" + ajuda + "|1");
}

struct Execucao {
  std::string saida;
  std::string erros;
  int status = -1;
};

std::string conteudo(const std::string& caminho) {
  std::stringstream texto;
  texto << std::ifstream(caminho, std::ios::binary).rdbuf();
  return texto.str();
}

// Runs the built program, its standard output and error going to files.
Execucao executar(std::vector<std::string> argumentos) {
  argumentos.insert(argumentos.begin(), ORBELO_BINARIO);
  std::vector<char*> argv;
  for (auto& argumento : argumentos) {
    argv.push_back(argumento.data());
  }
  argv.push_back(nullptr);
  const std::string saida = testing::TempDir() + "orbelo_saida.txt";
  const std::string erros = testing::TempDir() + "orbelo_erros.txt";
  posix_spawn_file_actions_t acoes;
  posix_spawn_file_actions_init(&acoes);
  posix_spawn_file_actions_addopen(&acoes, STDOUT_FILENO, saida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&acoes, STDERR_FILENO, erros.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t filho = 0;
  Execucao execucao;
  if (posix_spawn(&filho, argv[0], &acoes, nullptr, argv.data(), environ) == 0) {
    int estado = 0;
    waitpid(filho, &estado, 0);
    execucao.status = WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
  }
  posix_spawn_file_actions_destroy(&acoes);
  execucao.saida = conteudo(saida);
  execucao.erros = conteudo(erros);
  return execucao;
}

TEST(ProgramaOrbelo, PrintsEachEarlyEndAsOneMessageOnStandardOutput) {
  const std::vector<std::tuple<std::vector<std::string>, std::string, int>> casos = {
      {{"--janela", "--help"}, ajuda, 0},        {{"-x"}, "Opção desconhecida: -x\n\n" + ajuda, 1},
      {{"--porta", "65536"}, portaInvalida, 1},  {{"--tela", "1920X1080"}, telaInvalida, 1},
      {{"--codigo", "12 34-5"}, codigoCurto, 1},
  };
  for (const auto& [argumentos, texto, status] : casos) {
    const auto execucao = executar(argumentos);
    EXPECT_EQ(execucao.saida, texto + "\n");
    EXPECT_EQ(execucao.erros, "");
    EXPECT_EQ(execucao.status, status);
  }
}

}  // namespace
}  // namespace orbelo
