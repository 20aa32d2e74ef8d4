#pragma once

// Real peers for the transport tests, all on loopback: child processes (openssl s_server,
// avahi-publish), a free port, and a recorder for what a connection reports.

#include <sys/types.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "protocolo/ErroRede.hpp"
#include "protocolo/Pareamento.hpp"
#include "protocolo/Protocolo.hpp"
#include "receptor/Fila.hpp"
#include "receptor/Transporte.hpp"

namespace orbelo::teste {

using namespace std::chrono_literals;

class Processo {
 public:
  struct Opcoes {
    bool entrada = false;  // a pipe to its stdin (otherwise /dev/null)
    bool saida = false;    // a pipe from its stdout (otherwise /dev/null)
    bool erros = false;    // a pipe from its stderr (otherwise /dev/null)
    std::vector<std::pair<std::string, std::string>> ambiente;  // added to ours
  };

  Processo(const std::vector<std::string>& argumentos, const Opcoes& opcoes);
  ~Processo();
  Processo(const Processo&) = delete;
  Processo& operator=(const Processo&) = delete;

  // Blocks until everything is written or the child stops reading.
  void escrever(const Bytes& dados);
  // The same on a thread of its own, for more than the pipe holds; done by destruction.
  void escreverAoFundo(Bytes dados);
  void fecharEntrada();
  // Reads until `quantos` bytes came, the stream ended or `limite` passed.
  Bytes lerSaida(std::size_t quantos, std::chrono::milliseconds limite) {
    return ler(saida_, quantos, limite);
  }
  Bytes lerSaidaAteOFim(std::chrono::milliseconds limite) { return ler(saida_, SIZE_MAX, limite); }
  Bytes lerErrosAteOFim(std::chrono::milliseconds limite) { return ler(erros_, SIZE_MAX, limite); }
  // The next line of its stdout, without the line feed; none when `limite` passes first.
  std::optional<std::string> lerLinha(std::chrono::milliseconds limite);
  // The exit status once it ended within `limite`.
  std::optional<int> esperarFim(std::chrono::milliseconds limite);
  void sinalizar(int sinal);

 private:
  static Bytes ler(int fd, std::size_t quantos, std::chrono::milliseconds limite);

  pid_t pid_ = -1;
  bool terminou_ = false;
  int entrada_ = -1;
  int saida_ = -1;
  int erros_ = -1;
  std::thread escritor_;
  std::string linhaPendente_;
};

std::uint16_t portaLivre();
// Waits until something listens on that loopback TCP port.
bool esperarEscuta(std::uint16_t porta, std::chrono::milliseconds limite = 10s);

std::array<std::uint8_t, 32> chaveAleatoria();
Bytes bytesAleatorios(std::size_t quantos);
ParametrosTls parametrosCom(const std::array<std::uint8_t, 32>& chave);

// openssl s_server with a pre-shared key, for one connection, relaying its stdin to the
// client and the client's bytes to its stdout.
struct OpcoesServidor {
  std::array<std::uint8_t, 32> chave{};
  std::string suite = std::string(Pareamento::suites[0].nomeOpenssl);
  std::string versao = "-tls1_2";
  std::string endereco = "127.0.0.1";
  // -quiet: only relayed bytes on stdout; without it, the end of stdin closes the session.
  // Either way stdin is read only once a client is connected.
  bool silencioso = true;
};
struct ServidorTls {
  explicit ServidorTls(const OpcoesServidor& opcoes);
  std::uint16_t porta;
  Processo processo;
};

// What a connection reported, collected on `fila` and read by the test thread.
class Registro {
 public:
  void estado(EstadoConexao estado, const std::optional<ErroRede>& erro);
  void recebido(const Bytes& dados, bool completo, const std::optional<ErroRede>& erro);

  bool esperar(const std::function<bool()>& condicao, std::chrono::milliseconds limite = 10s);
  // The first state reported, once there is one.
  std::optional<std::pair<EstadoConexao, std::optional<ErroRede>>> primeiroEstado(
      std::chrono::milliseconds limite = 10s);

  // Only read after `esperar` or once the connection is quiet.
  std::mutex trava;
  std::vector<std::pair<EstadoConexao, std::optional<ErroRede>>> estados;
  Bytes bytes;
  std::size_t recepcoes = 0;
  std::size_t maiorEntrega = 0;
  bool completo = false;
  std::optional<ErroRede> erroRecepcao;

 private:
  std::condition_variable mudou_;
};

// Keeps one receive pending on `conexao`, recording into `registro`, until the stream ends.
void receberSempre(const std::shared_ptr<Conexao>& conexao, const std::shared_ptr<Registro>& registro,
                   std::size_t maximo = 1024 * 1024);

// Runs `tarefa` on `fila` and waits for it.
template <typename F>
auto naFila(Fila& fila, F tarefa) {
  std::packaged_task<decltype(tarefa())()> pacote(std::move(tarefa));
  auto futuro = pacote.get_future();
  fila.executar([&pacote] { pacote(); });
  return futuro.get();
}

}  // namespace orbelo::teste
