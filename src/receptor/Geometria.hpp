#pragma once

#include "EstadoTela.hpp"

namespace orbelo {

// The largest rectangle with the video's aspect ratio that fits in `limite`,
// centred in it: where an aspect-fit picture lands, bars excluded. A video
// size that is not positive has no aspect to keep, so `limite` comes back whole.
Retangulo ajustarProporcao(double larguraVideo, double alturaVideo, const Retangulo& limite);

}  // namespace orbelo
