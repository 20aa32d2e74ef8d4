#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace orbelo {

// One owner per FFmpeg handle, for the receiver and the reference sender alike. Most of
// FFmpeg's release functions take the address of the pointer, which they set to null.
template <auto liberar>
struct LiberarFfmpeg {
  template <class T>
  void operator()(T* recurso) const {
    liberar(&recurso);
  }
};
struct LiberarEscala {
  void operator()(SwsContext* escala) const { sws_freeContext(escala); }
};

using ContextoCodec = std::unique_ptr<AVCodecContext, LiberarFfmpeg<avcodec_free_context>>;
using Imagem = std::unique_ptr<AVFrame, LiberarFfmpeg<av_frame_free>>;
using Pacote = std::unique_ptr<AVPacket, LiberarFfmpeg<av_packet_free>>;
using PoolBuffers = std::unique_ptr<AVBufferPool, LiberarFfmpeg<av_buffer_pool_uninit>>;
using Escala = std::unique_ptr<SwsContext, LiberarEscala>;

// FFmpeg's own description of an error code, e.g. "Invalid data found when processing input".
std::string textoErroFfmpeg(int codigo);

}  // namespace orbelo
