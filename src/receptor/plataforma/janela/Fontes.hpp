#pragma once

#include <imgui.h>

namespace orbelo {

// The faces the notices and the pairing panel use, named by role. Sizes are in points.
struct Fontes {
  ImFont* texto12 = nullptr;
  ImFont* texto13 = nullptr;
  ImFont* texto15 = nullptr;
  ImFont* texto16 = nullptr;
  ImFont* texto20 = nullptr;
  ImFont* titulo26 = nullptr;  // medium
  ImFont* codigo44 = nullptr;  // semibold, digits of equal width
};

// Loads the desktop's sans-serif face (found through fontconfig) into ImGui's atlas.
// `unidadesPorPonto` maps points to ImGui units; `escalaFramebuffer` is how many
// pixels each unit covers, so glyphs are rasterised at the size they are shown.
Fontes carregarFontes(float unidadesPorPonto, float escalaFramebuffer);

}  // namespace orbelo
