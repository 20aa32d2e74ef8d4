#pragma once

#include <optional>

#include "ConversaoCor.hpp"
#include "ObjetoGl.hpp"

namespace orbelo {

// The shader pair that draws three 8-bit planes (texture units 0, 1, 2: Y, U,
// V) over the whole viewport, converting to RGB.
class ProgramaYuv {
 public:
  // None when the current context cannot compile or link it (not OpenGL 3.3 core).
  static std::optional<ProgramaYuv> criar();

  void usar(const ConversaoCor& conversao) const;

 private:
  explicit ProgramaYuv(Programa ligado);

  Programa programa;
  GLint localMatriz = -1;
  GLint localDeslocamento = -1;
};

}  // namespace orbelo
