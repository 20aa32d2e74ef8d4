#pragma once

#include <memory>

#include "ConversaoCor.hpp"
#include "DecodificadorVideo.hpp"
#include "ObjetoGl.hpp"
#include "ProgramaYuv.hpp"
#include "TexturasPlanos.hpp"

namespace orbelo {

// The display layer's drawing half: puts the newest decoded picture on the
// current framebuffer, aspect-fit, with black bars. Main thread only, with the
// OpenGL 3.3 core context current for its whole life.
class DesenhoVideo {
 public:
  // None when the context cannot build the shaders.
  static std::unique_ptr<DesenhoVideo> criar(DecodificadorVideo& decodificador);
  DesenhoVideo(DecodificadorVideo& decodificador, ProgramaYuv programa);

  // Fills a largura × altura viewport at the origin: black, and the picture
  // fitted in it. The last picture is drawn again until a newer one arrives or
  // the layer removes it. Returns whether a picture was drawn.
  bool desenhar(int largura, int altura);

 private:
  void atualizar();

  DecodificadorVideo& decodificador;
  ProgramaYuv programa;
  TexturasPlanos texturas;
  ArranjoVertices arranjo;
  Quadro quadro;

  // The picture held in `texturas`.
  bool temImagem = false;
  int larguraImagem = 0;
  int alturaImagem = 0;
  ConversaoCor conversao;
};

}  // namespace orbelo
