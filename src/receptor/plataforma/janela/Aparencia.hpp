#pragma once

#include <imgui.h>

#include "Fontes.hpp"

namespace orbelo {

// What the notices and the panel are drawn with.
struct Aparencia {
  Fontes fontes;
  float unidades = 1;  // ImGui units per point
  ImTextureID icone = nullptr;
};

// A button pressed on the frame just drawn; run once the frame is done.
enum class AcaoInterface { nenhuma, abrirPareamento, confirmarPareamento };

}  // namespace orbelo
