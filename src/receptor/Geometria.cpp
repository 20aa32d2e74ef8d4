#include "Geometria.hpp"

#include <algorithm>
#include <cmath>

namespace orbelo {

Retangulo ajustarProporcao(double larguraVideo, double alturaVideo, const Retangulo& limite) {
  // Written as negations so that NaN sizes from a bad `config` also take this branch.
  if (!(larguraVideo > 0) || !(alturaVideo > 0) || !std::isfinite(larguraVideo) ||
      !std::isfinite(alturaVideo)) {
    return limite;
  }
  const double escala = std::min(limite.largura / larguraVideo, limite.altura / alturaVideo);
  const double largura = larguraVideo * escala;
  const double altura = alturaVideo * escala;
  return Retangulo{
      .x = limite.x + (limite.largura - largura) / 2,
      .y = limite.y + (limite.altura - altura) / 2,
      .largura = largura,
      .altura = altura,
  };
}

}  // namespace orbelo
