#pragma once

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace orbelo::teste {

namespace fs = std::filesystem;

// A fresh folder for one test, removed afterwards; open to others, so that a child
// without privileges reaches what the test prepares inside.
class PastaTemporaria {
 public:
  PastaTemporaria() {
    std::string modelo = testing::TempDir() + "orbelo-XXXXXX";
    caminho = ::mkdtemp(modelo.data());
    fs::permissions(caminho, fs::perms(0755));
  }
  ~PastaTemporaria() {
    std::error_code erro;
    for (const auto& item : fs::recursive_directory_iterator(caminho, erro))
      fs::permissions(item.path(), fs::perms::owner_all, fs::perm_options::add, erro);
    fs::remove_all(caminho, erro);
  }
  const fs::path& operator()() const { return caminho; }

 private:
  fs::path caminho;
};

inline std::string conteudo(const fs::path& caminho) {
  std::stringstream texto;
  texto << std::ifstream(caminho, std::ios::binary).rdbuf();
  return texto.str();
}

inline void escrever(const fs::path& caminho, const std::string& texto) {
  fs::create_directories(caminho.parent_path());
  std::ofstream(caminho, std::ios::binary) << texto;
}

inline std::vector<std::string> nomesEm(const fs::path& pasta) {
  std::vector<std::string> nomes;
  for (const auto& item : fs::directory_iterator(pasta)) nomes.push_back(item.path().filename().string());
  return nomes;
}

using Impressora = std::function<void(std::string_view)>;

// Runs `acao` in a child process that file permissions bind (as root it first becomes
// nobody) and returns the lines it printed through the printer it was given.
inline std::vector<std::string> semPrivilegios(const std::function<void(const Impressora&)>& acao) {
  int tubo[2];
  EXPECT_EQ(::pipe(tubo), 0);
  const pid_t filho = ::fork();
  if (filho == 0) {
    constexpr uid_t ninguem = 65534;
    if (::geteuid() == 0 && (::setgroups(0, nullptr) || ::setgid(ninguem) || ::setuid(ninguem))) ::_exit(2);
    acao([&](std::string_view linha) {
      const std::string texto = std::string(linha) + "\n";
      if (::write(tubo[1], texto.data(), texto.size()) != static_cast<ssize_t>(texto.size())) ::_exit(3);
    });
    ::_exit(0);
  }
  ::close(tubo[1]);
  std::string saida;
  for (char c; ::read(tubo[0], &c, 1) == 1;) saida += c;
  ::close(tubo[0]);
  int estado = 0;
  ::waitpid(filho, &estado, 0);
  EXPECT_TRUE(WIFEXITED(estado) && WEXITSTATUS(estado) == 0) << "child status " << estado;
  std::vector<std::string> linhas;
  std::istringstream fluxo(saida);
  for (std::string linha; std::getline(fluxo, linha);) linhas.push_back(linha);
  return linhas;
}

}  // namespace orbelo::teste
