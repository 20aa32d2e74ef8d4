#pragma once

#include <imgui.h>

#include "Aparencia.hpp"
#include "receptor/EstadoTela.hpp"

namespace orbelo {

// The statistics overlay: a small translucent box in the top-left corner, above the
// picture and the pointer. Draws nothing while it is hidden.
void desenharPainelEstatisticas(const EstadoTela& estado, const Aparencia& aparencia, ImDrawList& desenho);

}  // namespace orbelo
