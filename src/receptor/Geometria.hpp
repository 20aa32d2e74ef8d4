#pragma once

#include <cstddef>
#include <span>

#include "EstadoTela.hpp"

namespace orbelo {

// The largest rectangle with the video's aspect ratio that fits in `limite`,
// centred in it: where an aspect-fit picture lands, bars excluded. A video
// size that is not positive has no aspect to keep, so `limite` comes back whole.
Retangulo ajustarProporcao(double larguraVideo, double alturaVideo, const Retangulo& limite);

// Which of `monitores` (desktop coordinates) holds the point: the one it lies in, else the
// nearest, so that a pointer caught between monitors of different sizes still picks one.
// 0 when there are none.
std::size_t monitorDoPonto(std::span<const Retangulo> monitores, double x, double y);

}  // namespace orbelo
