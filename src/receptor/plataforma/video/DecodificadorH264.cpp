#include "DecodificadorH264.hpp"

#include <algorithm>
#include <cstring>
#include <thread>

extern "C" {
#include <libavutil/mem.h>
}

namespace orbelo {

namespace {

// Frames carry each NAL unit behind a 4-byte length, which avcC states as
// lengthSizeMinusOne = 3.
constexpr std::uint8_t tamanhoComprimentoMenosUm = 3;
// Slice threads help only when the sender cuts frames into slices; a few are enough.
constexpr unsigned maximoLinhasExecucao = 4;
// 8K UHD, more than any screen a sender serves. A stream may declare up to 16384 squared,
// and each reference picture of that size would take hundreds of megabytes.
constexpr std::int64_t pixelsMaximos = std::int64_t{7680} * 4320;

// An AVCDecoderConfigurationRecord holding one SPS and one PPS.
std::optional<Bytes> registroAvcc(const FormatoVideo& formato) {
  if (formato.sps.size() > 0xFFFF || formato.pps.size() > 0xFFFF) {
    return std::nullopt;
  }
  auto byteSps = [&](std::size_t i) { return i < formato.sps.size() ? formato.sps[i] : std::uint8_t{0}; };
  Bytes registro{1, byteSps(1), byteSps(2), byteSps(3), 0xFC | tamanhoComprimentoMenosUm, 0xE0 | 1};
  anexarBE(registro, static_cast<std::uint16_t>(formato.sps.size()));
  registro.insert(registro.end(), formato.sps.begin(), formato.sps.end());
  registro.push_back(1);
  anexarBE(registro, static_cast<std::uint16_t>(formato.pps.size()));
  registro.insert(registro.end(), formato.pps.begin(), formato.pps.end());
  return registro;
}

// Opens `contexto` on the parameter sets, decoding with `linhas` slice threads.
int abrir(ContextoCodec& contexto, const FormatoVideo& formato, int linhas) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (!codec) {
    return AVERROR_DECODER_NOT_FOUND;
  }
  const auto registro = registroAvcc(formato);
  if (!registro) {
    return AVERROR_INVALIDDATA;
  }
  contexto.reset(avcodec_alloc_context3(codec));
  if (!contexto) {
    return AVERROR(ENOMEM);
  }
  auto* extradata = static_cast<std::uint8_t*>(av_mallocz(registro->size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!extradata) {
    return AVERROR(ENOMEM);
  }
  std::memcpy(extradata, registro->data(), registro->size());
  contexto->extradata = extradata;
  contexto->extradata_size = static_cast<int>(registro->size());
  // Low delay also keeps frame threading off: each frame thread would hold back one frame.
  // Unaligned lets cropping be applied exactly instead of leaving columns on the left.
  contexto->flags |= AV_CODEC_FLAG_LOW_DELAY | AV_CODEC_FLAG_UNALIGNED;
  contexto->thread_type = FF_THREAD_SLICE;
  contexto->thread_count = linhas;
  // Errors must surface so that a key frame is asked for, rather than be concealed; the
  // parameter sets are parsed on opening, so unusable ones fail here.
  contexto->err_recognition = AV_EF_EXPLODE;
  contexto->max_pixels = pixelsMaximos;
  return avcodec_open2(contexto.get(), codec, nullptr);
}

}  // namespace

DecodificadorH264::DecodificadorH264() : pacote(av_packet_alloc()) {}

bool DecodificadorH264::utilizavel(const FormatoVideo& formato) {
  ContextoCodec contexto;
  return abrir(contexto, formato, 1) == 0;
}

int DecodificadorH264::prepararPara(const std::shared_ptr<const FormatoVideo>& formato) {
  if (!formato) {
    return AVERROR(EINVAL);
  }
  if (contexto && formatoAberto && (formato == formatoAberto || *formato == *formatoAberto)) {
    return 0;
  }
  contexto.reset();
  formatoAberto.reset();
  if (!pacote) {
    return AVERROR(ENOMEM);
  }
  const int resultado =
      abrir(contexto, *formato,
            static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, maximoLinhasExecucao)));
  if (resultado == 0) {
    formatoAberto = formato;
  } else {
    contexto.reset();
  }
  return resultado;
}

int DecodificadorH264::enviar(VistaBytes dados, std::int64_t numero) {
  if (!contexto) {
    return AVERROR(EINVAL);
  }
  // To libavcodec an empty packet means the end of the stream; no frame is empty.
  if (dados.empty()) {
    return AVERROR_INVALIDDATA;
  }
  const std::size_t necessario = dados.size() + AV_INPUT_BUFFER_PADDING_SIZE;
  if (necessario > static_cast<std::size_t>(INT32_MAX)) {
    return AVERROR(ERANGE);
  }
  if (necessario > tamanhoPool) {
    // Buffers still held by the decoder keep the old pool alive until released.
    tamanhoPool = std::max(necessario, tamanhoPool * 2);
    pool.reset(av_buffer_pool_init(tamanhoPool, nullptr));
    if (!pool) {
      tamanhoPool = 0;
      return AVERROR(ENOMEM);
    }
  }
  av_packet_unref(pacote.get());
  pacote->buf = av_buffer_pool_get(pool.get());
  if (!pacote->buf) {
    return AVERROR(ENOMEM);
  }
  pacote->data = pacote->buf->data;
  pacote->size = static_cast<int>(dados.size());
  pacote->pts = numero;
  std::memcpy(pacote->data, dados.data(), dados.size());
  std::memset(pacote->data + dados.size(), 0, AV_INPUT_BUFFER_PADDING_SIZE);
  const int resultado = avcodec_send_packet(contexto.get(), pacote.get());
  av_packet_unref(pacote.get());
  return resultado;
}

int DecodificadorH264::receber(AVFrame& imagem) {
  if (!contexto) {
    return AVERROR(EAGAIN);
  }
  return avcodec_receive_frame(contexto.get(), &imagem);
}

void DecodificadorH264::descarregar() {
  if (contexto) {
    avcodec_flush_buffers(contexto.get());
  }
}

}  // namespace orbelo
