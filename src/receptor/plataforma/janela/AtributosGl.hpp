#pragma once

#include <SDL.h>

namespace orbelo {

// Asks SDL, before a window is made, for the context the drawing code needs:
// OpenGL 3.3 core, double buffered.
inline void pedirAtributosGl() {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  // Nothing drawn tests depth: without the buffer a full-screen window is 8 MB lighter.
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
}

}  // namespace orbelo
