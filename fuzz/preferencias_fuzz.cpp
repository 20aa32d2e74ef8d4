// The preferences file with arbitrary contents: reading it says at most one line, and a later
// save keeps every value that was read, adds the new one and leaves the file private.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "receptor/plataforma/sistema/PreferenciasArquivo.hpp"

namespace {

using namespace orbelo;

void exigir(bool condicao) {
  if (!condicao) {
    std::abort();
  }
}

// One folder for the whole run, in memory when the machine offers it.
const std::filesystem::path& pasta() {
  static const std::filesystem::path criada = [] {
    std::string modelo =
        (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/orbelo-fuzz-XXXXXX");
    exigir(mkdtemp(modelo.data()) != nullptr);
    std::atexit([] { std::filesystem::remove_all(pasta()); });
    return std::filesystem::path(modelo);
  }();
  return criada;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t tamanho) {
  const auto arquivo = pasta() / "preferencias.json";
  {
    std::ofstream saida(arquivo, std::ios::binary | std::ios::trunc);
    saida.write(reinterpret_cast<const char*>(dados), static_cast<std::streamsize>(tamanho));
  }

  std::vector<std::string> linhas;
  auto anotar = [&linhas](std::string_view linha) { linhas.emplace_back(linha); };
  PreferenciasArquivo lidas(arquivo, anotar);
  exigir(linhas.size() <= 1);
  const auto host = lidas.texto("host");
  const auto configurado = lidas.booleano("inicioConfigurado");
  lidas.gravarTexto("codigo", "654321");
  exigir(linhas.size() <= 1);

  struct stat info {};
  exigir(::stat(arquivo.c_str(), &info) == 0 && (info.st_mode & 0777) == 0600);

  linhas.clear();
  const PreferenciasArquivo relidas(arquivo, anotar);
  exigir(linhas.empty());
  exigir(relidas.texto("codigo") == "654321");
  exigir(relidas.texto("host") == host);
  exigir(relidas.booleano("inicioConfigurado") == configurado);
  return 0;
}
