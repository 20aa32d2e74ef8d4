#pragma once

#include <optional>

#include "CoresQuadro.hpp"
#include "ObjetoGl.hpp"

namespace orbelo {

// The shader that turns YUV planes into RGB on the GPU, drawn as one quad over the
// viewport. Luma comes from texture unit 0; chroma from units 1 and 2. Main thread
// only, with the OpenGL 3.3 core context current.
class ProgramaYuv {
 public:
  // None when the driver does not compile or link it; the CPU then converts.
  static std::optional<ProgramaYuv> criar();

  // Fills the viewport with the planes bound to units 0-2, top row up, in `cores`.
  void desenhar(CoresQuadro cores);

 private:
  ProgramaYuv(Programa programa, Vertices vertices);

  Programa programa;
  // Core profile draws nothing without one; the quad's corners come from gl_VertexID.
  Vertices vertices;
  GLint localMatriz = -1, localDeslocamento = -1;
};

}  // namespace orbelo
