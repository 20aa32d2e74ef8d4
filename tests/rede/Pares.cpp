#include "Pares.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/rand.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace orbelo::teste {
namespace {

using Relogio = std::chrono::steady_clock;

std::string hex(const std::array<std::uint8_t, 32>& chave) {
  std::string texto;
  for (const auto byte : chave) {
    std::array<char, 3> par{};
    std::snprintf(par.data(), par.size(), "%02x", byte);
    texto += par.data();
  }
  return texto;
}

}  // namespace

Processo::Processo(const std::vector<std::string>& argumentos, const Opcoes& opcoes) {
  // A peer that has ended must not take the test down with it when written to.
  signal(SIGPIPE, SIG_IGN);
  std::array<int, 2> canalEntrada{-1, -1};
  std::array<int, 2> canalSaida{-1, -1};
  std::array<int, 2> canalErros{-1, -1};
  if ((opcoes.entrada && pipe2(canalEntrada.data(), O_CLOEXEC) != 0) ||
      (opcoes.saida && pipe2(canalSaida.data(), O_CLOEXEC) != 0) ||
      (opcoes.erros && pipe2(canalErros.data(), O_CLOEXEC) != 0)) {
    throw std::runtime_error("pipe");
  }
  posix_spawn_file_actions_t acoes;
  posix_spawn_file_actions_init(&acoes);
  if (opcoes.entrada) {
    posix_spawn_file_actions_adddup2(&acoes, canalEntrada[0], 0);
  } else {
    posix_spawn_file_actions_addopen(&acoes, 0, "/dev/null", O_RDONLY, 0);
  }
  if (opcoes.saida) {
    posix_spawn_file_actions_adddup2(&acoes, canalSaida[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&acoes, 1, "/dev/null", O_WRONLY, 0);
  }
  if (opcoes.erros) {
    posix_spawn_file_actions_adddup2(&acoes, canalErros[1], 2);
  } else {
    posix_spawn_file_actions_addopen(&acoes, 2, "/dev/null", O_WRONLY, 0);
  }

  std::vector<std::string> ambiente;
  for (char** variavel = environ; *variavel != nullptr; ++variavel) ambiente.emplace_back(*variavel);
  for (const auto& [nome, valor] : opcoes.ambiente) ambiente.emplace_back(nome).append("=").append(valor);
  const auto ponteiros = [](const std::vector<std::string>& textos) {
    std::vector<char*> lista;
    lista.reserve(textos.size() + 1);
    for (const auto& texto : textos) lista.push_back(const_cast<char*>(texto.c_str()));
    lista.push_back(nullptr);
    return lista;
  };
  auto argv = ponteiros(argumentos);
  auto envp = ponteiros(ambiente);

  const int erro = posix_spawnp(&pid_, argv[0], &acoes, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&acoes);
  for (const int fd : {canalEntrada[0], canalSaida[1], canalErros[1]}) {
    if (fd >= 0) close(fd);
  }
  entrada_ = canalEntrada[1];
  saida_ = canalSaida[0];
  erros_ = canalErros[0];
  if (erro != 0) throw std::runtime_error("posix_spawnp " + argumentos[0]);
}

Processo::~Processo() {
  // Ended first, so that a writer blocked on its stdin gets out.
  if (!terminou_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (escritor_.joinable()) escritor_.join();
  for (const int fd : {entrada_, saida_, erros_}) {
    if (fd >= 0) close(fd);
  }
}

void Processo::escrever(const Bytes& dados) {
  std::size_t escritos = 0;
  while (escritos < dados.size()) {
    const auto n = write(entrada_, dados.data() + escritos, dados.size() - escritos);
    if (n <= 0) return;
    escritos += static_cast<std::size_t>(n);
  }
}

void Processo::escreverAoFundo(Bytes dados) {
  escritor_ = std::thread([this, dados = std::move(dados)] { escrever(dados); });
}

void Processo::fecharEntrada() {
  if (entrada_ >= 0) close(entrada_);
  entrada_ = -1;
}

Bytes Processo::ler(int fd, std::size_t quantos, std::chrono::milliseconds limite) {
  Bytes lidos;
  const auto fim = Relogio::now() + limite;
  std::array<std::uint8_t, 65536> bloco{};
  while (lidos.size() < quantos) {
    const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(fim - Relogio::now()).count();
    pollfd espera{fd, POLLIN, 0};
    if (resta <= 0 || poll(&espera, 1, static_cast<int>(resta)) <= 0) break;
    const auto n = read(fd, bloco.data(), std::min(bloco.size(), quantos - lidos.size()));
    if (n <= 0) break;
    lidos.insert(lidos.end(), bloco.begin(), bloco.begin() + n);
  }
  return lidos;
}

std::optional<std::string> Processo::lerLinha(std::chrono::milliseconds limite) {
  const auto fim = Relogio::now() + limite;
  for (;;) {
    const auto quebra = linhaPendente_.find('\n');
    if (quebra != std::string::npos) {
      auto linha = linhaPendente_.substr(0, quebra);
      linhaPendente_.erase(0, quebra + 1);
      return linha;
    }
    const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(fim - Relogio::now()).count();
    pollfd espera{saida_, POLLIN, 0};
    if (resta <= 0 || poll(&espera, 1, static_cast<int>(resta)) <= 0) return std::nullopt;
    std::array<char, 4096> bloco{};
    const auto n = read(saida_, bloco.data(), bloco.size());
    if (n <= 0) return std::nullopt;
    linhaPendente_.append(bloco.data(), static_cast<std::size_t>(n));
  }
}

std::optional<int> Processo::esperarFim(std::chrono::milliseconds limite) {
  const auto fim = Relogio::now() + limite;
  while (!terminou_) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      terminou_ = true;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (Relogio::now() > fim) return std::nullopt;
    std::this_thread::sleep_for(10ms);
  }
  return std::nullopt;
}

void Processo::sinalizar(int sinal) {
  if (!terminou_) kill(pid_, sinal);
}

std::uint16_t portaLivre() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in endereco{};
  endereco.sin_family = AF_INET;
  endereco.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t tamanho = sizeof(endereco);
  if (bind(fd, reinterpret_cast<sockaddr*>(&endereco), sizeof(endereco)) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&endereco), &tamanho) != 0) {
    close(fd);
    throw std::runtime_error("porta livre");
  }
  close(fd);
  return ntohs(endereco.sin_port);
}

bool esperarEscuta(std::uint16_t porta, std::chrono::milliseconds limite) {
  std::array<char, 8> sufixo{};
  std::snprintf(sufixo.data(), sufixo.size(), ":%04X", porta);
  const auto fim = Relogio::now() + limite;
  while (Relogio::now() < fim) {
    for (const char* tabela : {"/proc/net/tcp", "/proc/net/tcp6"}) {
      std::ifstream arquivo(tabela);
      std::string linha;
      while (std::getline(arquivo, linha)) {
        std::istringstream campos(linha);
        std::string ordem, local, remoto, estado;
        campos >> ordem >> local >> remoto >> estado;
        // 0A is LISTEN.
        if (estado == "0A" && local.ends_with(sufixo.data())) return true;
      }
    }
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

std::array<std::uint8_t, 32> chaveAleatoria() {
  std::array<std::uint8_t, 32> chave{};
  RAND_bytes(chave.data(), static_cast<int>(chave.size()));
  return chave;
}

Bytes bytesAleatorios(std::size_t quantos) {
  Bytes dados(quantos);
  RAND_bytes(dados.data(), static_cast<int>(dados.size()));
  return dados;
}

ParametrosTls parametrosCom(const std::array<std::uint8_t, 32>& chave) {
  ParametrosTls parametros;
  parametros.chave = chave;
  parametros.identidade = std::string(Pareamento::identidade);
  for (const auto& suite : Pareamento::suites) parametros.suites.push_back(suite.numero);
  parametros.versaoMaxima = Pareamento::versaoMaxima;
  return parametros;
}

namespace {

std::vector<std::string> argumentosServidor(const OpcoesServidor& opcoes, std::uint16_t porta) {
  const auto endereco =
      opcoes.endereco.find(':') != std::string::npos ? "[" + opcoes.endereco + "]" : opcoes.endereco;
  std::vector<std::string> argumentos{
      "openssl",       "s_server", "-nocert",     "-psk",    hex(opcoes.chave),
      "-psk_identity", "varovia",  opcoes.versao, "-accept", endereco + ":" + std::to_string(porta),
      "-naccept",      "1"};
  if (opcoes.versao == "-tls1_3") {
    argumentos.insert(argumentos.end(), {"-ciphersuites", opcoes.suite});
  } else {
    argumentos.insert(argumentos.end(), {"-cipher", opcoes.suite});
  }
  if (opcoes.silencioso) argumentos.emplace_back("-quiet");
  return argumentos;
}

Processo::Opcoes opcoesServidor() {
  Processo::Opcoes opcoes;
  opcoes.entrada = true;
  opcoes.saida = true;
  return opcoes;
}

}  // namespace

ServidorTls::ServidorTls(const OpcoesServidor& opcoes)
    : porta(portaLivre()), processo(argumentosServidor(opcoes, porta), opcoesServidor()) {
  if (!esperarEscuta(porta)) throw std::runtime_error("s_server não escutou");
}

void Registro::estado(EstadoConexao estado, const std::optional<ErroRede>& erro) {
  {
    const std::lock_guard guarda(trava);
    estados.emplace_back(estado, erro);
  }
  mudou_.notify_all();
}

void Registro::recebido(const Bytes& dados, bool fim, const std::optional<ErroRede>& erro) {
  {
    const std::lock_guard guarda(trava);
    bytes.insert(bytes.end(), dados.begin(), dados.end());
    ++recepcoes;
    maiorEntrega = std::max(maiorEntrega, dados.size());
    completo = completo || fim;
    if (erro) erroRecepcao = erro;
  }
  mudou_.notify_all();
}

bool Registro::esperar(const std::function<bool()>& condicao, std::chrono::milliseconds limite) {
  std::unique_lock guarda(trava);
  return mudou_.wait_for(guarda, limite, condicao);
}

std::optional<std::pair<EstadoConexao, std::optional<ErroRede>>> Registro::primeiroEstado(
    std::chrono::milliseconds limite) {
  std::unique_lock guarda(trava);
  if (!mudou_.wait_for(guarda, limite, [this] { return !estados.empty(); })) return std::nullopt;
  return estados.front();
}

void receberSempre(const std::shared_ptr<Conexao>& conexao, const std::shared_ptr<Registro>& registro,
                   std::size_t maximo) {
  conexao->receber(1, maximo,
                   [fraca = std::weak_ptr(conexao), registro, maximo](const Bytes& dados, bool completo,
                                                                      const std::optional<ErroRede>& erro) {
                     registro->recebido(dados, completo, erro);
                     const auto conexao = fraca.lock();
                     if (conexao && !completo && !erro) receberSempre(conexao, registro, maximo);
                   });
}

}  // namespace orbelo::teste
