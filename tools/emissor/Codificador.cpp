#include "Codificador.hpp"

#include "protocolo/H264.hpp"

extern "C" {
#include <libavutil/opt.h>
}

namespace orbelo::emissor {

namespace {

// Key frames come on request; a periodic one every ten seconds bounds a receiver's wait.
constexpr int segundosEntreKeyframes = 10;

}  // namespace

Codificador::Codificador(ContextoCodec contexto, Mensagens::Parametros parametros)
    : contexto(std::move(contexto)), pacote(av_packet_alloc()), parametros_(std::move(parametros)) {}

std::variant<Codificador, std::string> Codificador::abrir(Tamanho tamanho, int quadrosPorSegundo) {
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (codec == nullptr) {
    return std::string("codificador libx264 indisponível");
  }
  ContextoCodec contexto(avcodec_alloc_context3(codec));
  contexto->width = tamanho.largura;
  contexto->height = tamanho.altura;
  contexto->pix_fmt = AV_PIX_FMT_YUV420P;
  contexto->time_base = AVRational{1, quadrosPorSegundo};
  contexto->framerate = AVRational{quadrosPorSegundo, 1};
  contexto->gop_size = quadrosPorSegundo * segundosEntreKeyframes;
  contexto->max_b_frames = 0;
  // Parameter sets go once into `parametros`, not in front of every key frame.
  contexto->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  av_opt_set(contexto->priv_data, "preset", "ultrafast", 0);
  av_opt_set(contexto->priv_data, "tune", "zerolatency", 0);
  av_opt_set(contexto->priv_data, "forced-idr", "1", 0);
  if (int erro = avcodec_open2(contexto.get(), codec, nullptr); erro < 0) {
    return "libx264: " + textoErroFfmpeg(erro);
  }
  std::optional<Mensagens::Parametros> parametros;
  const VistaBytes extras(contexto->extradata, static_cast<std::size_t>(contexto->extradata_size));
  H264::atualizarParametros(H264::dividirAnexoB(extras), parametros);
  if (!parametros) {
    return std::string("libx264 não produziu SPS/PPS");
  }
  return Codificador(std::move(contexto), std::move(*parametros));
}

std::optional<QuadroCodificado> Codificador::codificar(AVFrame& imagem, bool keyframe) {
  imagem.pts = proximoPts++;
  imagem.pict_type = keyframe ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  if (avcodec_send_frame(contexto.get(), &imagem) < 0 ||
      avcodec_receive_packet(contexto.get(), pacote.get()) < 0) {
    return std::nullopt;
  }
  QuadroCodificado quadro{H264::prefixarComprimentos(H264::dividirAnexoB(
                              VistaBytes(pacote->data, static_cast<std::size_t>(pacote->size)))),
                          (pacote->flags & AV_PKT_FLAG_KEY) != 0};
  av_packet_unref(pacote.get());
  return quadro;
}

}  // namespace orbelo::emissor
