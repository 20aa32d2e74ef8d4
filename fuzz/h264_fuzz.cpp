// Parameter sets and frames from the wire, through the receiver's format and sample
// construction into the H.264 decoder, recovering from errors as the display layer does.
// A picture that comes out must be one the screen can upload as it is.
//
// Input: [length, 2 bytes big-endian][`parametros` payload], then any number of
// [length, 2 bytes big-endian][`quadro` payload: key-frame flag, frame bytes].

#include <algorithm>
#include <cstdlib>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include "receptor/Receptor.hpp"
#include "receptor/plataforma/video/DecodificadorH264.hpp"
#include "receptor/plataforma/video/FormatosImagem.hpp"

namespace {

using namespace orbelo;

void exigir(bool condicao) {
  if (!condicao) {
    std::abort();
  }
}

VistaBytes proximo(VistaBytes& resto) {
  if (resto.size() < 2) {
    resto = {};
    return {};
  }
  const auto comprimento = std::min<std::size_t>(lerBE<std::uint16_t>(resto, 0), resto.size() - 2);
  const auto parte = resto.subspan(2, comprimento);
  resto = resto.subspan(2 + comprimento);
  return parte;
}

void conferirImagem(const AVFrame& imagem) {
  exigir(imagem.width > 0 && imagem.height > 0);
  if (!formatoDesenhavel(imagem.format)) {
    return;
  }
  const auto* descricao = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(imagem.format));
  for (int i = 0; i < 3; ++i) {
    const int largura =
        i == 0 ? imagem.width
               : (imagem.width + (1 << descricao->log2_chroma_w) - 1) >> descricao->log2_chroma_w;
    exigir(imagem.data[i] != nullptr && imagem.linesize[i] >= largura);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t tamanho) {
  static const bool silencioso = (av_log_set_level(AV_LOG_QUIET), true);
  (void)silencioso;

  VistaBytes resto(dados, tamanho);
  const auto formato = Receptor::criarFormato(proximo(resto));
  if (!formato) {
    return 0;
  }
  DecodificadorH264 decodificador;
  Imagem imagem(av_frame_alloc());
  bool aguardandoKeyframe = true;
  while (!resto.empty()) {
    const auto payload = proximo(resto);
    const auto quadro = Mensagens::Quadro::ler(payload);
    if (!quadro || (aguardandoKeyframe && !quadro->keyframe)) {
      continue;
    }
    aguardandoKeyframe = false;
    const auto amostra = Receptor::criarAmostra(Bytes(payload.begin(), payload.end()), formato);
    exigir(amostra && std::ranges::equal(amostra->unidades(), payload.subspan(1)));
    int resultado = decodificador.prepararPara(amostra->formato);
    if (resultado == 0) {
      resultado = decodificador.enviar(amostra->unidades());
    }
    while (resultado == 0) {
      resultado = decodificador.receber(*imagem);
      if (resultado == 0) {
        conferirImagem(*imagem);
        av_frame_unref(imagem.get());
      }
    }
    if (resultado != AVERROR(EAGAIN)) {
      // What the receiver does on a failure: flush, then wait for a key frame.
      decodificador.descarregar();
      aguardandoKeyframe = true;
    }
  }
  return 0;
}
