#pragma once

// The peer for the connection tests: openssl s_server on loopback.

#include <signal.h>

#include <algorithm>
#include <asio/ip/tcp.hpp>
#include <filesystem>
#include <thread>

#include "apoio/Apoio.hpp"
#include "protocolo/Pareamento.hpp"

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
// its stdin from a thread: nothing waits on a full pipe.
class ServidorTls {
 public:
  explicit ServidorTls(const OpcoesServidor& o = {})
      : processo({"sh", "-c",
                  "exec openssl s_server -quiet -nocert -psk " + chaveHex(o.codigo) + " -psk_identity varovia " +
                      o.versao + " -accept '" + o.endereco + ":" + std::to_string(porta) + "' -naccept 1 " +
                      (o.versao == "-tls1_3" ? "-ciphersuites " : "-cipher ") + o.suite + " >" + saida}) {
    EXPECT_TRUE(esperar([this] {
      return std::ranges::any_of(soquetes(processo.id()), [](const std::string& s) { return s.ends_with(" 0A"); });
    })) << "s_server is not listening";
  }
  ~ServidorTls() {
    // Ended first, so that a writer blocked on its stdin gets out.
    if (!terminou(0ms)) kill(processo.id(), SIGKILL);
    if (escritor.joinable()) escritor.join();
    std::filesystem::remove(saida);
  }

  // Once: writes `dados` to its stdin in the background; a server that has ended takes no more.
  void escrever(Bytes dados) {
    escritor = std::thread([this, dados = std::move(dados)] {
      try {
        processo.escrever(dados);
      } catch (const std::runtime_error&) {
      }
    });
  }
  bool terminou(std::chrono::milliseconds limite) { return processo.esperarFim(limite).has_value(); }

  const std::uint16_t porta = portaLivre();
  const std::string saida = "/tmp/orbelo-s_server-" + std::to_string(porta);

 private:
  Processo processo;
  std::thread escritor;
};

}  // namespace orbelo::teste
