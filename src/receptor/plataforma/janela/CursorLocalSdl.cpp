#include "CursorLocalSdl.hpp"

#include <SDL.h>

namespace orbelo {

void CursorLocalSdl::esconder() {
  SDL_ShowCursor(SDL_DISABLE);
}

void CursorLocalSdl::mostrar() {
  SDL_ShowCursor(SDL_ENABLE);
}

}  // namespace orbelo
