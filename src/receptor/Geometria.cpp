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

std::size_t monitorDoPonto(std::span<const Retangulo> monitores, double x, double y) {
  // Distance to a rectangle whose right and bottom edges belong to its neighbour: 0 inside.
  const auto distancia = [x, y](const Retangulo& monitor) {
    const double dx = x < monitor.x ? monitor.x - x : std::max(0.0, x - (monitor.x + monitor.largura - 1));
    const double dy = y < monitor.y ? monitor.y - y : std::max(0.0, y - (monitor.y + monitor.altura - 1));
    return dx * dx + dy * dy;
  };
  const auto maisPerto =
      std::min_element(monitores.begin(), monitores.end(),
                       [&](const Retangulo& a, const Retangulo& b) { return distancia(a) < distancia(b); });
  return maisPerto == monitores.end() ? 0 : static_cast<std::size_t>(maisPerto - monitores.begin());
}

}  // namespace orbelo
