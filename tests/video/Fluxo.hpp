#pragma once

#include "apoio/Apoio.hpp"
#include "receptor/CamadaVideo.hpp"

namespace orbelo::teste {

// A stream as the network layer hands it to the display layer: one format for all its frames,
// each sample arriving as it is taken.
struct FluxoVideo : FluxoH264 {
  std::shared_ptr<const FormatoVideo> formato;
  Amostra amostra(std::size_t i) const {
    return {formato, quadros.at(i).unidades, std::chrono::steady_clock::now()};
  }
};

inline FluxoVideo codificarVideo(const PastaTemporaria& pasta, const std::string& fonte,
                                 const std::string& opcoes) {
  FluxoVideo fluxo{codificar(pasta, fonte, opcoes), nullptr};
  fluxo.formato = std::make_shared<FormatoVideo>(FormatoVideo{fluxo.parametros.sps, fluxo.parametros.pps});
  return fluxo;
}

}  // namespace orbelo::teste
