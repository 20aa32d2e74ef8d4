#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "RecursosFfmpeg.hpp"
#include "receptor/CamadaVideo.hpp"

namespace orbelo {

// libavcodec's H.264 decoder fed with length-prefixed access units. Not
// thread-safe: one thread (the decoder thread) uses it.
class DecodificadorH264 {
 public:
  DecodificadorH264();

  // Whether the decoder takes these parameter sets: a decoder is opened on them and
  // closed again. Safe from any thread.
  static bool utilizavel(const FormatoVideo& formato);

  // Opens the decoder for `formato` unless it is already open for the same
  // parameter sets. 0, or a negative FFmpeg error.
  int prepararPara(const std::shared_ptr<const FormatoVideo>& formato);
  // 0, or a negative FFmpeg error. The picture that comes out of it carries
  // `numero` as its pts.
  int enviar(VistaBytes dados, std::int64_t numero = AV_NOPTS_VALUE);
  // 0 with a picture in `imagem`, AVERROR(EAGAIN) when it needs more data, or an error.
  int receber(AVFrame& imagem);
  // Forgets reference pictures; the next access unit must be a key frame.
  void descarregar();

 private:
  ContextoCodec contexto;
  std::shared_ptr<const FormatoVideo> formatoAberto;
  Pacote pacote;
  // Packet buffers come from a pool so that steady decoding does not allocate.
  PoolBuffers pool;
  std::size_t tamanhoPool = 0;
};

}  // namespace orbelo
