#include "Sondas.hpp"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace orbelo::hostil {
namespace {

namespace fs = std::filesystem;

fs::path pastaDe(pid_t processo) {
  return fs::path("/proc") / std::to_string(processo);
}

long campoKib(const std::string& status, const std::string& nome) {
  const auto em = status.find("\n" + nome + ":");
  return em == std::string::npos ? -1 : std::stol(status.substr(em + nome.size() + 2));
}

}  // namespace

Memoria memoria(pid_t processo) {
  std::ifstream arquivo(pastaDe(processo) / "status");
  const std::string status((std::istreambuf_iterator<char>(arquivo)), {});
  return {campoKib(status, "VmRSS"), campoKib(status, "VmHWM"), campoKib(status, "VmData")};
}

int descritores(pid_t processo) {
  std::error_code erro;
  int total = 0;
  for (auto it = fs::directory_iterator(pastaDe(processo) / "fd", erro);
       !erro && it != fs::directory_iterator(); it.increment(erro)) {
    ++total;
  }
  return total;
}

std::vector<std::string> soquetes(pid_t processo) {
  std::set<std::string> inodes;
  std::error_code erro;
  for (auto it = fs::directory_iterator(pastaDe(processo) / "fd", erro);
       !erro && it != fs::directory_iterator(); it.increment(erro)) {
    const auto alvo = fs::read_symlink(it->path(), erro).string();
    if (alvo.starts_with("socket:[")) {
      inodes.insert(alvo.substr(8, alvo.size() - 9));
    }
  }
  std::vector<std::string> encontrados;
  for (const std::string protocolo : {"tcp", "tcp6", "udp", "udp6"}) {
    std::ifstream tabela(pastaDe(processo) / "net" / protocolo);
    std::string linha;
    std::getline(tabela, linha);  // column titles
    while (std::getline(tabela, linha)) {
      std::istringstream campos(linha);
      std::string posicao, local, remoto, estado, filas, temporizador, tentativas, dono, tempo, inode;
      campos >> posicao >> local >> remoto >> estado >> filas >> temporizador >> tentativas >> dono >>
          tempo >> inode;
      if (inodes.contains(inode)) {
        encontrados.push_back(protocolo + " " + local + " " + estado);
      }
    }
  }
  return encontrados;
}

}  // namespace orbelo::hostil
