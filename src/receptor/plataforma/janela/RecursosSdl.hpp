#pragma once

#include <SDL.h>

#include <memory>

namespace orbelo {

// One reference to an SDL subsystem, released with the object.
class SubsistemaSdl {
 public:
  explicit SubsistemaSdl(Uint32 flags) : flags(flags), ativo_(SDL_InitSubSystem(flags) == 0) {}
  ~SubsistemaSdl() {
    if (ativo_) {
      SDL_QuitSubSystem(flags);
    }
  }
  SubsistemaSdl(const SubsistemaSdl&) = delete;
  SubsistemaSdl& operator=(const SubsistemaSdl&) = delete;

  bool ativo() const { return ativo_; }

 private:
  Uint32 flags;
  bool ativo_;
};

struct LiberarJanelaSdl {
  void operator()(SDL_Window* janela) const { SDL_DestroyWindow(janela); }
};
struct LiberarSuperficie {
  void operator()(SDL_Surface* superficie) const { SDL_FreeSurface(superficie); }
};
struct LiberarContextoGl {
  void operator()(void* contexto) const { SDL_GL_DeleteContext(contexto); }
};

using JanelaSdlPtr = std::unique_ptr<SDL_Window, LiberarJanelaSdl>;
using SuperficiePtr = std::unique_ptr<SDL_Surface, LiberarSuperficie>;
using ContextoGlPtr = std::unique_ptr<void, LiberarContextoGl>;

}  // namespace orbelo
