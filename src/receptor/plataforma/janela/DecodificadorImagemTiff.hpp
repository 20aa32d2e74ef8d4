#pragma once

#include "receptor/ImagemCursor.hpp"

namespace orbelo {

bool ehTiff(VistaBytes arquivo);

// None for a TIFF libtiff cannot read, one wider or taller than
// DecodificadorImagem::ladoMaximo, or one whose reading would take more memory than
// such a picture needs.
std::shared_ptr<const ImagemCursor> decodificarTiff(VistaBytes arquivo);

}  // namespace orbelo
