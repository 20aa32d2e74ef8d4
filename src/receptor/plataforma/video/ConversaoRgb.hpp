#pragma once

#include <cstdint>
#include <memory>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace orbelo {

// Turns decoded pictures into 8-bit BGRA rows with the picture's own colour
// matrix and range: BT.601 for SMPTE 170M and BT.470BG, BT.709 for everything
// else, unspecified included; limited range unless the picture says full.
// The set-up is kept while pictures keep their size, format and colours.
class ConversaoRgb {
 public:
  // `destino` holds quadro.height rows of `passo` bytes, at least 4 × width each.
  // False when swscale cannot convert the picture's format.
  bool converter(const AVFrame& quadro, std::uint8_t* destino, int passo);

 private:
  struct LiberarContexto {
    void operator()(SwsContext* contexto) const { sws_freeContext(contexto); }
  };

  std::unique_ptr<SwsContext, LiberarContexto> contexto;
  int formato = -1;
  int largura = 0;
  int altura = 0;
  bool bt601 = false;
  bool completa = false;
};

}  // namespace orbelo
