#include "Processo.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace orbelo::teste {

namespace {

std::pair<int, int> criarCano() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  return {fds[0], fds[1]};
}

}  // namespace

Processo::Processo(const std::vector<std::string>& argumentos, const std::vector<std::string>& ambiente) {
  auto [entradaLeitura, entradaEscrita] = criarCano();
  auto [saidaLeitura, saidaEscrita] = criarCano();
  auto [erroLeitura, erroEscrita] = criarCano();
  posix_spawn_file_actions_t acoes;
  posix_spawn_file_actions_init(&acoes);
  posix_spawn_file_actions_adddup2(&acoes, entradaLeitura, 0);
  posix_spawn_file_actions_adddup2(&acoes, saidaEscrita, 1);
  posix_spawn_file_actions_adddup2(&acoes, erroEscrita, 2);

  std::vector<char*> argv;
  for (const auto& a : argumentos) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> variaveis(ambiente);
  for (char** e = environ; *e != nullptr; ++e) variaveis.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& v : variaveis) envp.push_back(v.data());
  envp.push_back(nullptr);

  int falha = posix_spawnp(&pid, argv[0], &acoes, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&acoes);
  close(entradaLeitura);
  close(saidaEscrita);
  close(erroEscrita);
  if (falha != 0) throw std::runtime_error("posix_spawnp " + argumentos[0]);
  entrada = entradaEscrita;
  saida = saidaLeitura;
  erro = erroLeitura;
  signal(SIGPIPE, SIG_IGN);
}

Processo::~Processo() {
  if (!status && pid > 0) {
    kill(pid, SIGTERM);
    if (!esperarFim(3s)) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  for (int fd : {entrada, saida, erro}) {
    if (fd >= 0) close(fd);
  }
}

void Processo::escrever(VistaBytes dados) {
  std::size_t feitos = 0;
  while (feitos < dados.size()) {
    ssize_t n = write(entrada, dados.data() + feitos, dados.size() - feitos);
    if (n <= 0) throw std::runtime_error("write to child");
    feitos += static_cast<std::size_t>(n);
  }
}

Bytes Processo::ler(std::chrono::milliseconds espera) {
  Bytes dados;
  if (fimSaida) return dados;
  pollfd pronto{saida, POLLIN, 0};
  if (poll(&pronto, 1, static_cast<int>(espera.count())) <= 0) return dados;
  dados.resize(256 * 1024);
  ssize_t n = read(saida, dados.data(), dados.size());
  if (n <= 0) {
    fimSaida = true;
    n = 0;
  }
  dados.resize(static_cast<std::size_t>(n));
  return dados;
}

std::optional<std::string> Processo::esperarLinha(const std::string& prefixo,
                                                  std::chrono::milliseconds espera) {
  auto limite = std::chrono::steady_clock::now() + espera;
  while (true) {
    while (lidas < todas.size()) {
      const auto& linha = todas[lidas++];
      if (linha.starts_with(prefixo)) return linha;
    }
    auto resta =
        std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now());
    if (resta <= 0ms || fimSaida) return std::nullopt;
    Bytes dados = ler(resta);
    pendente.append(dados.begin(), dados.end());
    for (std::size_t fim; (fim = pendente.find('\n')) != std::string::npos;) {
      todas.push_back(pendente.substr(0, fim));
      pendente.erase(0, fim + 1);
    }
  }
}

std::optional<int> Processo::esperarFim(std::chrono::milliseconds espera) {
  auto limite = std::chrono::steady_clock::now() + espera;
  while (!status) {
    int bruto = 0;
    if (waitpid(pid, &bruto, WNOHANG) == pid) {
      status = WIFEXITED(bruto) ? WEXITSTATUS(bruto) : 128 + WTERMSIG(bruto);
      break;
    }
    if (std::chrono::steady_clock::now() >= limite) return std::nullopt;
    std::this_thread::sleep_for(20ms);
  }
  return status;
}

std::string Processo::erros() {
  std::string texto;
  char bloco[4096];
  fcntl(erro, F_SETFL, fcntl(erro, F_GETFL) | O_NONBLOCK);
  for (ssize_t n; (n = read(erro, bloco, sizeof bloco)) > 0;)
    texto.append(bloco, static_cast<std::size_t>(n));
  return texto;
}

}  // namespace orbelo::teste
