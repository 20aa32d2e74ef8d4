#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

#include "ConversaoRgb.hpp"
#include "ObjetoGl.hpp"

namespace orbelo {

// The picture on screen as one BGRA texture, whose storage is kept while the
// size stays. A new picture is converted and uploaded a band of rows at a time
// through one small buffer, so the converted rows are still in cache when the
// upload copies them and no picture-sized staging memory exists. Drawing is a
// framebuffer blit, which at 1:1 is a plain copy even for a software rasterizer.
class TexturaRgb {
 public:
  TexturaRgb();

  // False, leaving the texture's content undefined, when the picture cannot be converted.
  bool enviar(const AVFrame& imagem, ConversaoRgb& conversao);
  // Copies the picture, top row up, onto [x0, x1) × [y0, y1) of the bound draw
  // framebuffer (window coordinates, y up), scaling when the sizes differ.
  void copiar(int x0, int y0, int x1, int y1) const;

  int largura() const { return largura_; }
  int altura() const { return altura_; }

 private:
  void alocar(int largura, int altura);

  Textura textura;
  Framebuffer leitura;
  std::vector<std::uint8_t> faixa;
  int passo = 0;  // bytes from one row of `faixa` to the next
  int largura_ = 0;
  int altura_ = 0;
};

}  // namespace orbelo
