#pragma once

#include <memory>

#include "protocolo/Protocolo.hpp"

namespace orbelo {

// A decoded pointer image: RGBA, 8 bits per channel, rows top to bottom.
struct ImagemCursor {
  int largura = 0;
  int altura = 0;
  Bytes rgba;
};

class DecodificadorImagem {
 public:
  static constexpr int ladoMaximo = 1024;

  virtual ~DecodificadorImagem() = default;
  // None when the bytes are no image, or one wider or taller than ladoMaximo.
  virtual std::shared_ptr<const ImagemCursor> decodificar(VistaBytes arquivo) const = 0;
};

}  // namespace orbelo
