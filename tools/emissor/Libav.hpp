#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace orbelo::emissor {

// One owner per FFmpeg handle, released in one place.
struct LiberarFormato {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct LiberarCodec {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct LiberarQuadro {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct LiberarPacote {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct LiberarEscala {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct LiberarFiltro {
  void operator()(AVBSFContext* f) const { av_bsf_free(&f); }
};

using FormatoPtr = std::unique_ptr<AVFormatContext, LiberarFormato>;
using CodecPtr = std::unique_ptr<AVCodecContext, LiberarCodec>;
using QuadroPtr = std::unique_ptr<AVFrame, LiberarQuadro>;
using PacotePtr = std::unique_ptr<AVPacket, LiberarPacote>;
using EscalaPtr = std::unique_ptr<SwsContext, LiberarEscala>;
using FiltroPtr = std::unique_ptr<AVBSFContext, LiberarFiltro>;

inline std::string textoErroLibav(int codigo) {
  char texto[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(codigo, texto, sizeof texto);
  return texto;
}

}  // namespace orbelo::emissor
