#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "receptor/CamadaVideo.hpp"

namespace orbelo::teste {

struct QuadroH264 {
  Bytes dados;  // NAL units behind 4-byte big-endian lengths
  bool chave = false;
};

// A stream as the sender delivers it: parameter sets apart, one access unit per frame.
struct FluxoH264 {
  std::shared_ptr<const FormatoVideo> formato;
  std::vector<QuadroH264> quadros;
  std::filesystem::path arquivo;  // the Annex B file it came from, when encoded here

  Amostra amostra(std::size_t i) const { return Amostra{formato, quadros.at(i).dados}; }
};

// Splits an Annex B byte stream at start codes and groups the NAL units into
// access units; SPS and PPS go to the format.
FluxoH264 separarAnexoB(VistaBytes anexoB);

// A scratch directory removed with its owner.
class PastaTemporaria {
 public:
  PastaTemporaria();
  ~PastaTemporaria();
  PastaTemporaria(const PastaTemporaria&) = delete;
  PastaTemporaria& operator=(const PastaTemporaria&) = delete;
  std::filesystem::path operator/(const std::string& nome) const { return caminho / nome; }

 private:
  std::filesystem::path caminho;
};

Bytes lerArquivo(const std::filesystem::path& arquivo);

// Runs the ffmpeg command line `-y ARGUMENTOS SAIDA` quietly; the test fails
// when ffmpeg does.
void executarFfmpeg(const std::string& argumentos, const std::filesystem::path& saida);

// Encodes the lavfi source `fonte` with libx264 (no B-frames, as a live sender
// does) plus `opcoes`, and splits the result.
FluxoH264 codificar(const PastaTemporaria& pasta, const std::string& fonte, const std::string& opcoes);

// Polls `condicao` until it holds, for up to 20 seconds.
bool esperar(const std::function<bool()>& condicao);

}  // namespace orbelo::teste
