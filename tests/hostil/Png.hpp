#pragma once

#include <cstdint>

#include "protocolo/Protocolo.hpp"

namespace orbelo::hostil {

// A well-formed PNG that declares `largura` by `altura` RGBA pixels and carries the pixel
// data of one opaque red pixel: a whole picture at 1 by 1, a lie at any other size.
Bytes png(std::uint32_t largura, std::uint32_t altura);

// An 8 by 8 PNG that ends right after the header of its second chunk.
Bytes pngSemFim();

}  // namespace orbelo::hostil
