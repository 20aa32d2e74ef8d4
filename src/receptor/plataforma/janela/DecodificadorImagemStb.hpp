#pragma once

#include "receptor/ImagemCursor.hpp"

namespace orbelo {

// A PNG, GIF (its first picture), JPEG or BMP; none for anything else, or for a picture
// wider or taller than DecodificadorImagem::ladoMaximo.
std::shared_ptr<const ImagemCursor> decodificarStb(VistaBytes arquivo);

}  // namespace orbelo
