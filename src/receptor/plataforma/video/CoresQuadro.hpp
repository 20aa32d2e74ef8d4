#pragma once

#include <array>

extern "C" {
#include <libavutil/frame.h>
}

namespace orbelo {

// How a decoded picture's YUV values turn into RGB, decided once for both conversions
// (swscale on the CPU and the shader) so that they show the same colours.
enum class MatrizCores { bt601, bt709, bt2020 };

struct CoresQuadro {
  MatrizCores matriz = MatrizCores::bt709;
  bool faixaCompleta = false;
  bool operator==(const CoresQuadro&) const = default;
};

// BT.601 for SMPTE 170M and BT.470BG, BT.2020 for its non-constant-luminance tag, BT.709
// for everything else, unspecified included; limited range unless the picture says full.
CoresQuadro coresDe(const AVFrame& imagem);

// rgb = matriz × (yuv − deslocamento), with each 8-bit sample read as 0..1 as a texture
// gives it; `matriz` row by row.
struct CoeficientesYuv {
  std::array<float, 9> matriz{};
  std::array<float, 3> deslocamento{};
};
CoeficientesYuv coeficientesDe(CoresQuadro cores);

}  // namespace orbelo
