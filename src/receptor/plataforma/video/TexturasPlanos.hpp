#pragma once

#include <array>

extern "C" {
#include <libavutil/frame.h>
}

#include "ObjetoGl.hpp"

namespace orbelo {

// The three planes of the picture on screen, one single-channel texture each.
// Textures are reused while the picture size stays, so a new picture is only
// a copy into existing storage.
class TexturasPlanos {
 public:
  TexturasPlanos();

  // `quadro` must be in a format that formatoDesenhavel accepts.
  void enviar(const AVFrame& quadro);
  // Binds Y, U, V to texture units 0, 1, 2.
  void ligar() const;

 private:
  struct Plano {
    Textura textura;
    int largura = 0;
    int altura = 0;
  };
  std::array<Plano, 3> planos;
};

}  // namespace orbelo
