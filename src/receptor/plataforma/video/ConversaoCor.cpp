#include "ConversaoCor.hpp"

namespace orbelo {

namespace {

struct Coeficientes {
  double kr;
  double kb;
};

constexpr Coeficientes bt601{0.299, 0.114};
constexpr Coeficientes bt709{0.2126, 0.0722};

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

}  // namespace

ConversaoCor conversaoPara(const AVFrame& quadro) {
  const bool usaBt601 = quadro.colorspace == AVCOL_SPC_SMPTE170M || quadro.colorspace == AVCOL_SPC_BT470BG;
  const auto [kr, kb] = usaBt601 ? bt601 : bt709;
  const double kg = 1 - kr - kb;

  const bool completa = faixaCompleta(quadro);
  // Limited range puts luma in 16..235 and chroma in 16..240 of 255.
  const double escalaY = completa ? 1.0 : 255.0 / 219.0;
  const double escalaC = completa ? 1.0 : 255.0 / 224.0;

  const double crParaR = 2 * (1 - kr);
  const double cbParaB = 2 * (1 - kb);
  const double cbParaG = -cbParaB * kb / kg;
  const double crParaG = -crParaR * kr / kg;

  ConversaoCor conversao;
  conversao.matriz = {
      static_cast<float>(escalaY),
      0.0f,
      static_cast<float>(escalaC * crParaR),
      static_cast<float>(escalaY),
      static_cast<float>(escalaC * cbParaG),
      static_cast<float>(escalaC * crParaG),
      static_cast<float>(escalaY),
      static_cast<float>(escalaC * cbParaB),
      0.0f,
  };
  conversao.deslocamento = {completa ? 0.0f : -16.0f / 255.0f, -128.0f / 255.0f, -128.0f / 255.0f};
  return conversao;
}

}  // namespace orbelo
