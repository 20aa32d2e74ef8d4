#include "CoresQuadro.hpp"

namespace orbelo {

CoresQuadro coresDe(const AVFrame& imagem) {
  CoresQuadro cores;
  switch (imagem.colorspace) {
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_BT470BG:
      cores.matriz = MatrizCores::bt601;
      break;
    case AVCOL_SPC_BT2020_NCL:
      cores.matriz = MatrizCores::bt2020;
      break;
    default:
      break;
  }
  switch (imagem.format) {
    // The decoder's way of saying full range.
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
      cores.faixaCompleta = true;
      break;
    default:
      cores.faixaCompleta = imagem.color_range == AVCOL_RANGE_JPEG;
      break;
  }
  return cores;
}

CoeficientesYuv coeficientesDe(CoresQuadro cores) {
  // Luma weights of red and blue; green's is what is left.
  const auto [kr, kb] = cores.matriz == MatrizCores::bt601    ? std::array{0.299, 0.114}
                        : cores.matriz == MatrizCores::bt2020 ? std::array{0.2627, 0.0593}
                                                              : std::array{0.2126, 0.0722};
  const double kg = 1 - kr - kb;
  // Limited range spans 16..235 for luma and 16..240 for chroma, out of 0..255.
  const double luma = cores.faixaCompleta ? 1 : 255.0 / 219;
  const double croma = cores.faixaCompleta ? 1 : 255.0 / 224;
  const double r = 2 * (1 - kr) * croma, b = 2 * (1 - kb) * croma;
  const double gu = -2 * kb * (1 - kb) / kg * croma, gv = -2 * kr * (1 - kr) / kg * croma;
  CoeficientesYuv coeficientes;
  coeficientes.matriz = {float(luma), 0,        float(r), float(luma), float(gu), float(gv),
                         float(luma), float(b), 0};
  coeficientes.deslocamento = {cores.faixaCompleta ? 0.0f : 16.0f / 255, 128.0f / 255, 128.0f / 255};
  return coeficientes;
}

}  // namespace orbelo
