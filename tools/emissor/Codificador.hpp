#pragma once

#include <optional>
#include <string>
#include <variant>

#include "Fonte.hpp"
#include "receptor/plataforma/video/RecursosFfmpeg.hpp"

namespace orbelo::emissor {

// libx264 through libavcodec, tuned for a live link: no B-frames, no look-ahead,
// one access unit out for each picture in.
class Codificador {
 public:
  // Pictures must be YUV420P of this size.
  static std::variant<Codificador, std::string> abrir(Tamanho tamanho, int quadrosPorSegundo);

  const Mensagens::Parametros& parametros() const { return parametros_; }
  std::optional<QuadroCodificado> codificar(AVFrame& imagem, bool keyframe);

 private:
  Codificador(ContextoCodec contexto, Mensagens::Parametros parametros);

  ContextoCodec contexto;
  Pacote pacote;
  Mensagens::Parametros parametros_;
  std::int64_t proximoPts = 0;
};

}  // namespace orbelo::emissor
