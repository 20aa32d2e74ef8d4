#pragma once

#include <optional>

#include "protocolo/Protocolo.hpp"

namespace orbelo {

enum class FormatoImagem { png, jpeg, bmp, gif, webp, tiff };

// What an image file says about itself before any pixel is decoded.
struct CabecalhoImagem {
  FormatoImagem formato;
  int largura = 0;
  int altura = 0;
};

// None when the format is not one we decode or its size cannot be read. For a GIF the
// size covers both the logical screen and the first picture, which the decoder
// allocates separately.
std::optional<CabecalhoImagem> lerCabecalhoImagem(VistaBytes arquivo);

}  // namespace orbelo
