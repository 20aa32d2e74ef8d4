#pragma once

// Real peers for the transport tests, all on loopback: child processes (openssl s_server,
// avahi-publish, the stand-alone browser) and a recorder for what a connection reports.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <asio/ip/tcp.hpp>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "protocolo/Pareamento.hpp"
#include "receptor/Fila.hpp"
#include "receptor/Transporte.hpp"

extern char** environ;

namespace orbelo::teste {

using namespace std::chrono_literals;

inline bool esperar(const std::function<bool()>& condicao, std::chrono::milliseconds limite = 10s) {
  for (const auto fim = std::chrono::steady_clock::now() + limite; !condicao();) {
    if (std::chrono::steady_clock::now() > fim) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

inline std::string lerArquivo(const std::string& caminho) {
  std::stringstream texto;
  texto << std::ifstream(caminho, std::ios::binary).rdbuf();
  return texto.str();
}

inline std::string arquivoTemporario(const std::string& nome) {
  static int contador = 0;
  return "/tmp/orbelo-rede-" + std::to_string(getpid()) + "-" + std::to_string(++contador) + "-" + nome;
}

// A child process, killed when destroyed. Its stdout and stderr go to files, so a peer
// relaying a mebibyte never blocks on a full pipe; `escrever` feeds its stdin from a thread.
class Processo {
 public:
  explicit Processo(const std::vector<std::string>& argumentos, const std::string& saida = "/dev/null",
                    const std::string& erros = "/dev/null") {
    // A peer that has ended must not take the test down with it when written to.
    signal(SIGPIPE, SIG_IGN);
    int canal[2];
    if (pipe2(canal, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    posix_spawn_file_actions_adddup2(&acoes, canal[0], 0);
    posix_spawn_file_actions_addopen(&acoes, 1, saida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&acoes, 2, erros.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    for (const auto& argumento : argumentos) argv.push_back(const_cast<char*>(argumento.c_str()));
    argv.push_back(nullptr);
    const int erro = posix_spawnp(&pid_, argv[0], &acoes, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&acoes);
    close(canal[0]);
    entrada_ = canal[1];
    if (erro != 0) throw std::runtime_error("posix_spawnp " + argumentos[0]);
  }
  ~Processo() {
    // Ended first, so that a writer blocked on its stdin gets out.
    matar();
    if (escritor_.joinable()) escritor_.join();
    close(entrada_);
  }
  Processo(const Processo&) = delete;
  Processo& operator=(const Processo&) = delete;

  // Once: writes `dados` to its stdin in the background.
  void escrever(Bytes dados) {
    escritor_ = std::thread([this, dados = std::move(dados)] {
      for (std::size_t feitos = 0; feitos < dados.size();) {
        const auto n = write(entrada_, dados.data() + feitos, dados.size() - feitos);
        if (n <= 0) break;
        feitos += static_cast<std::size_t>(n);
      }
    });
  }
  // The exit status once it ended within `limite`.
  std::optional<int> esperarFim(std::chrono::milliseconds limite) {
    int status = 0;
    esperar([&] { return terminou_ || (terminou_ = waitpid(pid_, &status, WNOHANG) == pid_); }, limite);
    if (!terminou_) return std::nullopt;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  void matar() {
    if (!terminou_) kill(pid_, SIGKILL);
    esperarFim(10s);
  }

 private:
  pid_t pid_ = -1;
  bool terminou_ = false;
  int entrada_ = -1;
  std::thread escritor_;
};

inline std::uint16_t portaLivre() {
  asio::io_context contexto;
  return asio::ip::tcp::acceptor(contexto, {asio::ip::make_address("127.0.0.1"), 0}).local_endpoint().port();
}

// Whether something listens on that TCP port: local address, any remote, state 0A.
inline bool escutando(std::uint16_t porta) {
  char local[8];
  std::snprintf(local, sizeof local, ":%04X", porta);
  return std::regex_search(lerArquivo("/proc/net/tcp") + lerArquivo("/proc/net/tcp6"),
                           std::regex(local + std::string(" 0+:0000 0A ")));
}

inline Bytes bytesAleatorios(std::size_t quantos) {
  std::independent_bits_engine<std::mt19937, 8, unsigned> gerador(static_cast<unsigned>(quantos));
  Bytes dados(quantos);
  for (auto& byte : dados) byte = static_cast<std::uint8_t>(gerador());
  return dados;
}

// openssl s_server for one connection, keyed by `codigo` as the sender keys it, relaying
// what `escrever` gives its stdin to the client and what the client sends to a file.
struct OpcoesServidor {
  std::string codigo = "123456";
  std::string suite = std::string(Pareamento::suites[0].nomeOpenssl);
  std::string versao = "-tls1_2";
  std::string endereco = "127.0.0.1";
};
struct ServidorTls {
  static std::vector<std::string> argumentos(const OpcoesServidor& o, std::uint16_t porta) {
    std::string chave;
    char par[3];
    for (const auto byte : Pareamento::derivarChave(o.codigo)) chave.append(par, std::snprintf(par, 3, "%02x", byte));
    const auto endereco = o.endereco.find(':') != std::string::npos ? "[" + o.endereco + "]" : o.endereco;
    return {"openssl", "s_server", "-nocert", "-psk", chave, "-psk_identity", "varovia", o.versao, "-accept",
            endereco + ":" + std::to_string(porta), "-naccept", "1",
            o.versao == "-tls1_3" ? "-ciphersuites" : "-cipher", o.suite, "-quiet"};
  }
  explicit ServidorTls(const OpcoesServidor& opcoes = {})
      : porta(portaLivre()), saida(arquivoTemporario("s_server")), processo(argumentos(opcoes, porta), saida) {
    if (!esperar([this] { return escutando(porta); })) throw std::runtime_error("s_server não escutou");
  }
  ~ServidorTls() { std::remove(saida.c_str()); }
  std::uint16_t porta;
  std::string saida;
  Processo processo;
};

// What a connection reported, collected on its `fila` and read by the test thread.
struct Registro {
  std::mutex trava;
  std::vector<std::pair<EstadoConexao, std::optional<ErroRede>>> estados;
  Bytes bytes;
  std::size_t recepcoes = 0, maiorEntrega = 0;
  std::optional<ErroRede> erroRecepcao;

  bool esperar(const std::function<bool()>& condicao, std::chrono::milliseconds limite = 10s) {
    return teste::esperar(
        [&] {
          const std::lock_guard guarda(trava);
          return condicao();
        },
        limite);
  }
  std::optional<std::pair<EstadoConexao, std::optional<ErroRede>>> primeiroEstado(
      std::chrono::milliseconds limite = 10s) {
    if (!esperar([this] { return !estados.empty(); }, limite)) return std::nullopt;
    const std::lock_guard guarda(trava);
    return estados.front();
  }
  Conexao::AoMudarEstado anotarEstado() {
    return [this](EstadoConexao estado, const std::optional<ErroRede>& erro) {
      const std::lock_guard guarda(trava);
      estados.emplace_back(estado, erro);
    };
  }
  void recebido(const Bytes& dados, bool, const std::optional<ErroRede>& erro) {
    const std::lock_guard guarda(trava);
    bytes.insert(bytes.end(), dados.begin(), dados.end());
    ++recepcoes;
    maiorEntrega = std::max(maiorEntrega, dados.size());
    if (erro) erroRecepcao = erro;
  }
};

// Keeps one receive pending on `conexao`, recording into `registro`, until the stream ends.
inline void receberSempre(const std::shared_ptr<Conexao>& conexao, const std::shared_ptr<Registro>& registro,
                          std::size_t maximo = 1024 * 1024) {
  conexao->receber(1, maximo,
                   [fraca = std::weak_ptr(conexao), registro, maximo](const Bytes& dados, bool completo,
                                                                      const std::optional<ErroRede>& erro) {
                     registro->recebido(dados, completo, erro);
                     const auto conexao = fraca.lock();
                     if (conexao && !completo && !erro) receberSempre(conexao, registro, maximo);
                   });
}

// Runs `tarefa` on `fila` and waits for it.
template <typename F>
auto naFila(Fila& fila, F tarefa) {
  std::packaged_task<decltype(tarefa())()> pacote(std::move(tarefa));
  auto futuro = pacote.get_future();
  fila.executar([&pacote] { pacote(); });
  return futuro.get();
}

}  // namespace orbelo::teste
