#pragma once

#include "apoio/Apoio.hpp"
#include "receptor/CamadaVideo.hpp"

namespace orbelo::teste {

// A sample as the receiver makes it from a `quadro` payload: the key-frame flag, then `unidades`.
inline Amostra amostraDe(std::shared_ptr<const FormatoVideo> formato, const Bytes& unidades,
                         bool keyframe = false) {
  Bytes payload{keyframe ? std::uint8_t{1} : std::uint8_t{0}};
  payload.insert(payload.end(), unidades.begin(), unidades.end());
  return {std::move(formato), std::move(payload), std::chrono::steady_clock::now()};
}

// A stream as the network layer hands it to the display layer: one format for all its frames,
// each sample arriving as it is taken.
struct FluxoVideo : FluxoH264 {
  std::shared_ptr<const FormatoVideo> formato;
  Amostra amostra(std::size_t i) const {
    return amostraDe(formato, quadros.at(i).unidades, quadros.at(i).keyframe);
  }
};

inline FluxoVideo codificarVideo(const PastaTemporaria& pasta, const std::string& fonte,
                                 const std::string& opcoes) {
  FluxoVideo fluxo{codificar(pasta, fonte, opcoes), nullptr};
  fluxo.formato = std::make_shared<FormatoVideo>(FormatoVideo{fluxo.parametros.sps, fluxo.parametros.pps});
  return fluxo;
}

}  // namespace orbelo::teste
