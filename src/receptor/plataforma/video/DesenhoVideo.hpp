#pragma once

#include <cstdint>
#include <optional>

#include "ConversaoRgb.hpp"
#include "DecodificadorVideo.hpp"
#include "MedicaoQuadros.hpp"
#include "TexturaRgb.hpp"
#include "TexturaYuv.hpp"

namespace orbelo {

// The display layer's drawing: puts the newest decoded picture on the current
// draw framebuffer, aspect-fit, with black bars. The renderer chooses, once, where
// pictures become RGB (escolherConversao); formats the shader does not take are
// converted by the CPU anyway. Main thread only, with the OpenGL 3.3 core context
// current for its whole life.
class DesenhoVideo {
 public:
  explicit DesenhoVideo(DecodificadorVideo& decodificador,
                        MedicaoQuadros* medicao = MedicaoQuadros::doProcesso());

  // Fills a largura × altura area at the origin: the picture fitted in it and
  // black around it, or all black without a picture. The last picture is drawn
  // again until a newer one arrives or the layer removes it.
  void desenhar(int largura, int altura);
  // Called once the frame drawn last is on screen (its buffer swap returned):
  // notes when a new picture got there.
  void apresentado();
  // How the picture on screen became RGB, for the statistics overlay.
  const char* conversaoUsada() const { return naGpu ? "GPU (shader)" : "CPU"; }

 private:
  void atualizar();

  DecodificadorVideo& decodificador;
  MedicaoQuadros* const medicao;
  ConversaoRgb conversao;
  TexturaRgb textura;
  // Present when the GPU converts.
  std::optional<TexturaYuv> texturaYuv;
  Imagem imagem;
  // Whether a texture holds a picture to show, and whether that is `texturaYuv`.
  bool temImagem = false;
  bool naGpu = false;
  // The number of the picture drawn last, while its arrival on screen is still to be noted.
  std::optional<std::int64_t> aApresentar;
};

}  // namespace orbelo
