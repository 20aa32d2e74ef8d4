#include "GravacaoAtomica.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace orbelo {
namespace {

std::error_code erroDoSistema() {
  return {errno, std::generic_category()};
}

class Descritor {
 public:
  explicit Descritor(int fd) : fd(fd) {}
  Descritor(const Descritor&) = delete;
  Descritor& operator=(const Descritor&) = delete;
  ~Descritor() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
  int get() const { return fd; }
  // Closing reports the last write errors of some file systems, so its result counts.
  std::error_code fechar() {
    const int antigo = std::exchange(fd, -1);
    return ::close(antigo) == 0 ? std::error_code{} : erroDoSistema();
  }

 private:
  int fd;
};

std::error_code escreverTudo(int fd, std::string_view conteudo) {
  while (!conteudo.empty()) {
    const auto escritos = ::write(fd, conteudo.data(), conteudo.size());
    if (escritos < 0) {
      if (errno == EINTR) {
        continue;
      }
      return erroDoSistema();
    }
    conteudo.remove_prefix(static_cast<std::size_t>(escritos));
  }
  return {};
}

std::error_code preencher(Descritor& arquivo, std::string_view conteudo, mode_t modo) {
  if (::fchmod(arquivo.get(), modo) != 0) {
    return erroDoSistema();
  }
  if (auto erro = escreverTudo(arquivo.get(), conteudo)) {
    return erro;
  }
  if (::fsync(arquivo.get()) != 0) {
    return erroDoSistema();
  }
  return arquivo.fechar();
}

}  // namespace

std::error_code criarPastas(const std::filesystem::path& pasta, mode_t modo) {
  std::filesystem::path parcial;
  for (const auto& parte : pasta) {
    parcial /= parte;
    if (::mkdir(parcial.c_str(), modo) != 0 && errno != EEXIST) {
      return erroDoSistema();
    }
  }
  // A file may stand where the folder should be.
  std::error_code erro;
  if (!std::filesystem::is_directory(pasta, erro) && !erro) {
    erro = std::make_error_code(std::errc::not_a_directory);
  }
  return erro;
}

std::error_code gravarAtomicamente(const std::filesystem::path& caminho, std::string_view conteudo,
                                   mode_t modo) {
  // A hidden name that no reader of the folder takes for the real file.
  std::string nome = ".";
  nome += caminho.filename().string();
  nome += ".XXXXXX";
  std::string temporario = (caminho.parent_path() / nome).string();
  Descritor arquivo(::mkstemp(temporario.data()));
  if (arquivo.get() < 0) {
    return erroDoSistema();
  }
  auto erro = preencher(arquivo, conteudo, modo);
  if (!erro && ::rename(temporario.c_str(), caminho.c_str()) != 0) {
    erro = erroDoSistema();
  }
  if (erro) {
    ::unlink(temporario.c_str());
    return erro;
  }
  // The rename itself lasts only once the folder is on disk too; failing here loses nothing already written.
  if (const Descritor pasta(::open(caminho.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      pasta.get() >= 0) {
    ::fsync(pasta.get());
  }
  return {};
}

}  // namespace orbelo
