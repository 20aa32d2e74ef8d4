#pragma once

#include <array>

extern "C" {
#include <libavutil/frame.h>
}

namespace orbelo {

// YUV to RGB for one picture: rgb = matriz * (yuv + deslocamento), with every
// component of yuv in 0..1 as sampled from 8-bit planes. `matriz` is row-major.
struct ConversaoCor {
  std::array<float, 9> matriz{};
  std::array<float, 3> deslocamento{};
};

// BT.601 for SMPTE 170M and BT.470BG, BT.709 for everything else, unspecified
// included; limited range unless the picture says full.
ConversaoCor conversaoPara(const AVFrame& quadro);

}  // namespace orbelo
