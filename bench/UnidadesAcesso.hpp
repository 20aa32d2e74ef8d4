#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "receptor/CamadaVideo.hpp"

namespace orbelo::bancada {

// One frame of an Annex B file: its bytes as they stand in the file (start
// codes, and the parameter sets and SEI that precede its slices) and, apart,
// its NAL units behind 4-byte lengths without SPS and PPS, as the sender sends them.
struct UnidadeAcesso {
  VistaBytes anexoB;
  Bytes comprimentos;
};

struct FluxoArquivo {
  Bytes conteudo;
  std::shared_ptr<const FormatoVideo> formato;
  std::vector<UnidadeAcesso> unidades;
};

// None when the file cannot be read or holds no SPS, PPS or frame.
std::optional<FluxoArquivo> lerFluxo(const std::filesystem::path& arquivo);

}  // namespace orbelo::bancada
