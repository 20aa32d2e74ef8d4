#include "ConversaoRgb.hpp"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace orbelo {

namespace {

int coeficientesSws(MatrizCores matriz) {
  switch (matriz) {
    case MatrizCores::bt601:
      return SWS_CS_ITU601;
    case MatrizCores::bt2020:
      return SWS_CS_BT2020;
    case MatrizCores::bt709:
      break;
  }
  return SWS_CS_ITU709;
}

}  // namespace

SwsContext* ConversaoRgb::contextoPara(const AVFrame& imagem, int linhas) {
  if (imagem.format != formato || imagem.width != largura) {
    contextos = {};
    linhasContexto = {};
    formato = imagem.format;
    largura = imagem.width;
  }
  const CoresQuadro querCores = coresDe(imagem);
  const bool novasCores = querCores != cores;
  cores = querCores;

  const std::size_t indice = linhas == linhasPorFaixa ? 0 : 1;
  Escala& contexto = contextos[indice];
  const bool novo = !contexto || linhasContexto[indice] != linhas;
  if (novo) {
    // Same size in and out: swscale picks its direct SIMD converter, no scaling.
    contexto.reset(sws_getContext(imagem.width, linhas, static_cast<AVPixelFormat>(imagem.format),
                                  imagem.width, linhas, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                                  nullptr));
    linhasContexto[indice] = contexto ? linhas : 0;
    if (!contexto) {
      return nullptr;
    }
  }
  if (novo || novasCores) {
    constexpr int neutro = 1 << 16;
    for (auto& cada : contextos) {
      if (cada) {
        sws_setColorspaceDetails(cada.get(), sws_getCoefficients(coeficientesSws(cores.matriz)),
                                 cores.faixaCompleta ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                                 neutro, neutro);
      }
    }
  }
  return contexto.get();
}

bool ConversaoRgb::converter(const AVFrame& imagem, int primeira, int linhas, std::uint8_t* destino,
                             int passo) {
  const AVPixFmtDescriptor* descricao = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(imagem.format));
  SwsContext* contexto = descricao ? contextoPara(imagem, linhas) : nullptr;
  if (!contexto) {
    return false;
  }
  // Each band goes through swscale as a picture of its own, starting at its first row.
  const std::uint8_t* origem[4] = {};
  for (int plano = 0; plano < 3 && imagem.data[plano]; ++plano) {
    const int deslocamento = plano == 0 ? primeira : primeira >> descricao->log2_chroma_h;
    origem[plano] = imagem.data[plano] + std::ptrdiff_t{deslocamento} * imagem.linesize[plano];
  }
  std::uint8_t* const planos[4] = {destino, nullptr, nullptr, nullptr};
  const int passos[4] = {passo, 0, 0, 0};
  return sws_scale(contexto, origem, imagem.linesize, 0, linhas, planos, passos) == linhas;
}

}  // namespace orbelo
