#pragma once

#include <cstdint>

namespace orbelo {

// Screen size in pixels to announce; both values fit the screen message's unsigned 32 bits.
struct TamanhoTela {
  std::int64_t largura = 0;
  std::int64_t altura = 0;

  bool operator==(const TamanhoTela&) const = default;
};

}  // namespace orbelo
