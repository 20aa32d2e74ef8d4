#pragma once

#include "receptor/ImagemCursor.hpp"

namespace orbelo {

// Pointer images through SDL_image. The declared size is checked before decoding, so a
// small file claiming a huge picture never makes the decoder allocate for it.
class DecodificadorImagemSdl : public DecodificadorImagem {
 public:
  DecodificadorImagemSdl();
  ~DecodificadorImagemSdl() override;
  DecodificadorImagemSdl(const DecodificadorImagemSdl&) = delete;
  DecodificadorImagemSdl& operator=(const DecodificadorImagemSdl&) = delete;

  std::shared_ptr<const ImagemCursor> decodificar(VistaBytes arquivo) const override;
};

}  // namespace orbelo
