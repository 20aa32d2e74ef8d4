#include "FonteTranscodificada.hpp"

namespace orbelo::emissor {

namespace {

constexpr int ladoMinimo = 16;

}  // namespace

FonteTranscodificada::FonteTranscodificada(Entrada entrada, ContextoCodec decodificador,
                                           Codificador codificador, Tamanho tamanho, int quadrosPorSegundo,
                                           bool ponteiroSeparado)
    : entrada(std::move(entrada)),
      decodificador(std::move(decodificador)),
      codificador(std::move(codificador)),
      pacote(av_packet_alloc()),
      decodificado(av_frame_alloc()),
      imagem(av_frame_alloc()),
      tamanho_(tamanho),
      quadrosPorSegundo(quadrosPorSegundo),
      ponteiroSeparado_(ponteiroSeparado) {}

std::variant<std::unique_ptr<FonteVideo>, std::string> FonteTranscodificada::abrir(Entrada entrada,
                                                                                   int quadrosPorSegundo,
                                                                                   bool ponteiroSeparado) {
  const AVCodecParameters& parametros = *entrada.fluxo().codecpar;
  const AVCodec* codec = avcodec_find_decoder(parametros.codec_id);
  if (codec == nullptr) {
    return std::string("codec de vídeo sem decodificador");
  }
  ContextoCodec decodificador(avcodec_alloc_context3(codec));
  avcodec_parameters_to_context(decodificador.get(), &parametros);
  if (int erro = avcodec_open2(decodificador.get(), codec, nullptr); erro < 0) {
    return textoErroFfmpeg(erro);
  }
  // x264 with 4:2:0 chroma needs even sides.
  Tamanho tamanho{parametros.width & ~1, parametros.height & ~1};
  if (tamanho.largura < ladoMinimo || tamanho.altura < ladoMinimo) {
    return "imagem pequena demais (" + std::to_string(parametros.width) + "x" +
           std::to_string(parametros.height) + ")";
  }
  auto codificador = Codificador::abrir(tamanho, quadrosPorSegundo);
  if (auto* erro = std::get_if<std::string>(&codificador)) {
    return *erro;
  }
  auto fonte = std::make_unique<FonteTranscodificada>(std::move(entrada), std::move(decodificador),
                                                      std::move(std::get<Codificador>(codificador)), tamanho,
                                                      quadrosPorSegundo, ponteiroSeparado);
  fonte->imagem->format = AV_PIX_FMT_YUV420P;
  fonte->imagem->width = tamanho.largura;
  fonte->imagem->height = tamanho.altura;
  if (av_frame_get_buffer(fonte->imagem.get(), 0) < 0) {
    return std::string("sem memória para a imagem");
  }
  return fonte;
}

std::chrono::nanoseconds FonteTranscodificada::intervalo() const {
  return std::chrono::nanoseconds(std::chrono::seconds(1)) / quadrosPorSegundo;
}

std::optional<std::string> FonteTranscodificada::decodificar() {
  // Two ends of the input in a row without a picture mean there is nothing to show.
  for (int fins = 0; fins < 2;) {
    int erro = avcodec_receive_frame(decodificador.get(), decodificado.get());
    if (erro == 0) {
      return std::nullopt;
    }
    if (erro == AVERROR_EOF) {
      // The decoder has given its last buffered picture; start the input over.
      ++fins;
      avcodec_flush_buffers(decodificador.get());
      if (auto falha = entrada.recomecar()) {
        return falha;
      }
      continue;
    }
    if (erro != AVERROR(EAGAIN)) {
      return textoErroFfmpeg(erro);
    }
    erro = entrada.ler(*pacote);
    if (erro == AVERROR_EOF) {
      avcodec_send_packet(decodificador.get(), nullptr);
      continue;
    }
    if (erro < 0) {
      return textoErroFfmpeg(erro);
    }
    // A damaged packet costs a picture, not the stream.
    avcodec_send_packet(decodificador.get(), pacote.get());
    av_packet_unref(pacote.get());
  }
  return std::string("nenhuma imagem decodificável");
}

bool FonteTranscodificada::escalar() {
  escala.reset(sws_getCachedContext(escala.release(), decodificado->width, decodificado->height,
                                    static_cast<AVPixelFormat>(decodificado->format), tamanho_.largura,
                                    tamanho_.altura, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                                    nullptr));
  if (!escala || av_frame_make_writable(imagem.get()) < 0) {
    return false;
  }
  sws_scale(escala.get(), decodificado->data, decodificado->linesize, 0, decodificado->height, imagem->data,
            imagem->linesize);
  return true;
}

Lote FonteTranscodificada::proximos(bool keyframe) {
  Lote lote;
  if (auto erro = decodificar()) {
    lote.erro = *erro;
    return lote;
  }
  bool escalado = escalar();
  av_frame_unref(decodificado.get());
  if (!escalado) {
    lote.erro = "conversão da imagem falhou";
    return lote;
  }
  auto quadro = codificador.codificar(*imagem, keyframe);
  if (!quadro) {
    lote.erro = "libx264 não codificou o quadro";
    return lote;
  }
  lote.quadros.push_back(std::move(*quadro));
  return lote;
}

}  // namespace orbelo::emissor
