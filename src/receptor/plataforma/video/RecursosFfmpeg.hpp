#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
}

namespace orbelo {

struct LiberarContextoCodec {
  void operator()(AVCodecContext* contexto) const { avcodec_free_context(&contexto); }
};
struct LiberarQuadro {
  void operator()(AVFrame* quadro) const { av_frame_free(&quadro); }
};
struct LiberarPacote {
  void operator()(AVPacket* pacote) const { av_packet_free(&pacote); }
};
struct LiberarPoolBuffers {
  void operator()(AVBufferPool* pool) const { av_buffer_pool_uninit(&pool); }
};

using ContextoCodec = std::unique_ptr<AVCodecContext, LiberarContextoCodec>;
using Quadro = std::unique_ptr<AVFrame, LiberarQuadro>;
using Pacote = std::unique_ptr<AVPacket, LiberarPacote>;
using PoolBuffers = std::unique_ptr<AVBufferPool, LiberarPoolBuffers>;

// FFmpeg's own description of an error code, e.g. "Invalid data found when processing input".
std::string textoErroFfmpeg(int codigo);

}  // namespace orbelo
