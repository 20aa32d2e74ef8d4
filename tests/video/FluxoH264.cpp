#include "video/FluxoH264.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace orbelo::teste {

namespace {

struct Nal {
  std::size_t inicio;
  std::size_t fim;
};

std::vector<Nal> nalsAnexoB(VistaBytes fluxo) {
  std::vector<Nal> nals;
  std::size_t inicioAtual = 0;
  bool dentro = false;
  auto fechar = [&](std::size_t fim) {
    // Zero bytes before the next start code belong to no NAL unit.
    while (fim > inicioAtual && fluxo[fim - 1] == 0) {
      --fim;
    }
    if (dentro && fim > inicioAtual) {
      nals.push_back({inicioAtual, fim});
    }
  };
  for (std::size_t i = 0; i + 2 < fluxo.size(); ++i) {
    if (fluxo[i] == 0 && fluxo[i + 1] == 0 && fluxo[i + 2] == 1) {
      fechar(i);
      inicioAtual = i + 3;
      dentro = true;
      i += 2;
    }
  }
  fechar(fluxo.size());
  return nals;
}

}  // namespace

FluxoH264 separarAnexoB(VistaBytes anexoB) {
  FluxoH264 fluxo;
  auto formato = std::make_shared<FormatoVideo>();
  QuadroH264 atual;
  bool atualTemImagem = false;
  for (const Nal& nal : nalsAnexoB(anexoB)) {
    const VistaBytes unidade = anexoB.subspan(nal.inicio, nal.fim - nal.inicio);
    const int tipo = unidade[0] & 0x1F;
    if (tipo == 7) {
      formato->sps.assign(unidade.begin(), unidade.end());
      continue;
    }
    if (tipo == 8) {
      formato->pps.assign(unidade.begin(), unidade.end());
      continue;
    }
    const bool imagem = tipo >= 1 && tipo <= 5;
    // A slice starting at macroblock 0 (ue(v) "1") or a SEI/delimiter after a slice opens a new unit.
    const bool primeiraFatia = imagem && unidade.size() > 1 && (unidade[1] & 0x80) != 0;
    if (atualTemImagem && (primeiraFatia || !imagem)) {
      fluxo.quadros.push_back(std::move(atual));
      atual = {};
      atualTemImagem = false;
    }
    anexarBE(atual.dados, static_cast<std::uint32_t>(unidade.size()));
    atual.dados.insert(atual.dados.end(), unidade.begin(), unidade.end());
    atualTemImagem = atualTemImagem || imagem;
    atual.chave = atual.chave || tipo == 5;
  }
  if (atualTemImagem) {
    fluxo.quadros.push_back(std::move(atual));
  }
  fluxo.formato = std::move(formato);
  return fluxo;
}

PastaTemporaria::PastaTemporaria() {
  std::string modelo = (std::filesystem::temp_directory_path() / "orbelo-video-XXXXXX").string();
  if (!mkdtemp(modelo.data())) {
    ADD_FAILURE() << "mkdtemp failed";
  }
  caminho = modelo;
}

PastaTemporaria::~PastaTemporaria() {
  std::error_code ignorado;
  std::filesystem::remove_all(caminho, ignorado);
}

Bytes lerArquivo(const std::filesystem::path& arquivo) {
  std::ifstream entrada(arquivo, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(entrada), std::istreambuf_iterator<char>());
}

void executarFfmpeg(const std::string& argumentos, const std::filesystem::path& saida) {
  const std::string comando = "ffmpeg -hide_banner -nostdin -loglevel error -y " + argumentos + " '" +
                              saida.string() + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(comando.c_str()), 0) << comando;
}

FluxoH264 codificar(const PastaTemporaria& pasta, const std::string& fonte, const std::string& opcoes) {
  static std::atomic<int> numero = 0;
  const auto saida = pasta / ("fluxo" + std::to_string(numero++) + ".h264");
  executarFfmpeg("-f lavfi -i \"" + fonte + "\" -c:v libx264 -bf 0 -tune zerolatency " + opcoes + " -f h264",
                 saida);
  FluxoH264 fluxo = separarAnexoB(lerArquivo(saida));
  fluxo.arquivo = saida;
  return fluxo;
}

bool esperar(const std::function<bool()>& condicao) {
  using namespace std::chrono_literals;
  const auto fim = std::chrono::steady_clock::now() + 20s;
  while (!condicao()) {
    if (std::chrono::steady_clock::now() > fim) {
      return false;
    }
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

}  // namespace orbelo::teste
