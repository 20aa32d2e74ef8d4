#pragma once

#include <array>
#include <optional>

extern "C" {
#include <libavutil/frame.h>
}

#include "CoresQuadro.hpp"
#include "ObjetoGl.hpp"
#include "ProgramaYuv.hpp"

namespace orbelo {

// The picture on screen as its decoded planes, uploaded as they are (1.5 bytes a pixel
// for 4:2:0 against 4 for RGB) and turned into RGB by the GPU as it draws. Main thread
// only, with the OpenGL 3.3 core context current.
class TexturaYuv {
 public:
  // None when the driver cannot run the shader.
  static std::optional<TexturaYuv> criar();

  // The pictures it draws: 8-bit 4:2:0 in three planes, rows top-down. The CPU converts the others.
  static bool aceita(const AVFrame& imagem);
  // False, leaving the content undefined, for a picture it does not accept.
  bool enviar(const AVFrame& imagem);
  // Draws the picture onto [x0, x1) × [y0, y1) of the bound draw framebuffer (window
  // coordinates, y up), scaled linearly when the sizes differ.
  void desenhar(int x0, int y0, int x1, int y1);

  int largura() const { return largura_; }
  int altura() const { return altura_; }

 private:
  explicit TexturaYuv(ProgramaYuv programa);

  ProgramaYuv programa;
  // Y, then U and V.
  std::array<Textura, 3> planos;
  std::array<int, 3> larguras{}, alturas{};
  CoresQuadro cores;
  int largura_ = 0;
  int altura_ = 0;
};

}  // namespace orbelo
