#pragma once

#include "receptor/ImagemCursor.hpp"

namespace orbelo {

// Pointer images from their files: PNG, GIF (its first picture), JPEG and BMP through
// stb_image, TIFF through libtiff. The library that decodes a file is the one that reads
// its size, and refuses a picture too large before allocating for it; whatever the file
// claims, a decode holds a bounded amount of memory for a bounded time.
class DecodificadorImagemArquivo : public DecodificadorImagem {
 public:
  std::shared_ptr<const ImagemCursor> decodificar(VistaBytes arquivo) const override;
};

}  // namespace orbelo
