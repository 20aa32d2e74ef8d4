#include "ConversaoRgb.hpp"

namespace orbelo {

namespace {

bool faixaCompleta(const AVFrame& quadro) {
  switch (quadro.format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
      return true;
    default:
      return quadro.color_range == AVCOL_RANGE_JPEG;
  }
}

bool usaBt601(const AVFrame& quadro) {
  return quadro.colorspace == AVCOL_SPC_SMPTE170M || quadro.colorspace == AVCOL_SPC_BT470BG;
}

}  // namespace

bool ConversaoRgb::converter(const AVFrame& quadro, std::uint8_t* destino, int passo) {
  const bool novoTamanho = !contexto || quadro.format != formato || quadro.width != largura || quadro.height != altura;
  if (novoTamanho) {
    // Same size in and out: swscale picks its direct SIMD converter, no scaling.
    contexto.reset(sws_getContext(quadro.width, quadro.height, static_cast<AVPixelFormat>(quadro.format),
                                  quadro.width, quadro.height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr,
                                  nullptr, nullptr));
    if (!contexto) {
      formato = -1;
      return false;
    }
    formato = quadro.format;
    largura = quadro.width;
    altura = quadro.height;
  }
  const bool quer601 = usaBt601(quadro);
  const bool querCompleta = faixaCompleta(quadro);
  if (novoTamanho || quer601 != bt601 || querCompleta != completa) {
    constexpr int neutro = 1 << 16;
    sws_setColorspaceDetails(contexto.get(), sws_getCoefficients(quer601 ? SWS_CS_ITU601 : SWS_CS_ITU709),
                             querCompleta ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, neutro, neutro);
    bt601 = quer601;
    completa = querCompleta;
  }
  std::uint8_t* const planos[4] = {destino, nullptr, nullptr, nullptr};
  const int passos[4] = {passo, 0, 0, 0};
  return sws_scale(contexto.get(), quadro.data, quadro.linesize, 0, quadro.height, planos, passos) ==
         quadro.height;
}

}  // namespace orbelo
