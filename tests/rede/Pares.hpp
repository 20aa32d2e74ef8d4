#pragma once

// The peer for the connection tests: openssl s_server on loopback.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <asio/ip/tcp.hpp>
#include <thread>

#include "apoio/Apoio.hpp"
#include "protocolo/Pareamento.hpp"

extern char** environ;

namespace orbelo::teste {

inline std::uint16_t portaLivre() {
  asio::io_context contexto;
  return asio::ip::tcp::acceptor(contexto, {asio::ip::make_address("127.0.0.1"), 0}).local_endpoint().port();
}

struct OpcoesServidor {
  std::string codigo{codigoTeste};
  std::string suite{Pareamento::suites[0].nomeOpenssl};
  std::string versao = "-tls1_2";
  std::string endereco = "127.0.0.1";
};

// openssl s_server for one connection, keyed by `codigo` as the sender keys it. It relays a
// mebibyte each way, so what the client sends goes to the file `saida` and `escrever` feeds
// its stdin from a thread: nothing waits on a full pipe. Killed when destroyed.
class ServidorTls {
 public:
  explicit ServidorTls(const OpcoesServidor& o = {}) {
    const std::vector<std::string> argumentos{
        "openssl", "s_server", "-nocert", "-psk", chaveHex(o.codigo), "-psk_identity", "varovia", o.versao,
        "-accept", o.endereco + ":" + std::to_string(porta), "-naccept", "1",
        o.versao == "-tls1_3" ? "-ciphersuites" : "-cipher", o.suite, "-quiet"};
    // A peer that has ended must not take the test down with it when written to.
    signal(SIGPIPE, SIG_IGN);
    int canal[2];
    if (pipe2(canal, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    posix_spawn_file_actions_adddup2(&acoes, canal[0], 0);
    posix_spawn_file_actions_addopen(&acoes, 1, saida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&acoes, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const auto& argumento : argumentos) argv.push_back(const_cast<char*>(argumento.c_str()));
    argv.push_back(nullptr);
    const int erro = posix_spawnp(&pid, argv[0], &acoes, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&acoes);
    close(canal[0]);
    entrada = canal[1];
    if (erro != 0) throw std::runtime_error("posix_spawnp openssl");
    EXPECT_TRUE(esperar([this] {
      return std::ranges::any_of(soquetes(pid), [](const std::string& s) { return s.ends_with(" 0A"); });
    })) << "s_server is not listening";
  }
  ~ServidorTls() {
    // Ended first, so that a writer blocked on its stdin gets out.
    if (!terminou(0ms)) kill(pid, SIGKILL);
    terminou(10s);
    if (escritor.joinable()) escritor.join();
    close(entrada);
  }
  ServidorTls(const ServidorTls&) = delete;
  ServidorTls& operator=(const ServidorTls&) = delete;

  // Once: writes `dados` to its stdin in the background.
  void escrever(Bytes dados) {
    escritor = std::thread([this, dados = std::move(dados)] {
      for (std::size_t feitos = 0; feitos < dados.size();) {
        const auto n = write(entrada, dados.data() + feitos, dados.size() - feitos);
        if (n <= 0) break;
        feitos += static_cast<std::size_t>(n);
      }
    });
  }
  bool terminou(std::chrono::milliseconds limite) {
    return esperar([this] { return fim || (fim = waitpid(pid, nullptr, WNOHANG) == pid); }, limite);
  }

  const PastaTemporaria pasta;
  const std::string saida = (pasta / "s_server").string();
  const std::uint16_t porta = portaLivre();

 private:
  pid_t pid = -1;
  bool fim = false;
  int entrada = -1;
  std::thread escritor;
};

}  // namespace orbelo::teste
