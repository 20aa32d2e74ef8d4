#pragma once

#include <SDL.h>

namespace orbelo {

// ImGui with its SDL2 and OpenGL 3 back ends, for the life of the window. Keeps no
// settings file and leaves the desktop pointer alone (the notices decide whether it
// shows). Styled dark, sizes scaled by `unidades` (ImGui units per point).
class ContextoImGui {
 public:
  ContextoImGui(SDL_Window* janela, void* contextoGl, float unidades);
  ~ContextoImGui();
  ContextoImGui(const ContextoImGui&) = delete;
  ContextoImGui& operator=(const ContextoImGui&) = delete;
};

}  // namespace orbelo
