#pragma once

#include <memory>
#include <variant>
#include <vector>

extern "C" {
#include <libavcodec/bsf.h>
}

#include "Entrada.hpp"
#include "Fonte.hpp"
#include "receptor/plataforma/video/RecursosFfmpeg.hpp"

namespace orbelo::emissor {

using FiltroPtr = std::unique_ptr<AVBSFContext, LiberarFfmpeg<av_bsf_free>>;

// An H.264 file sent as it is: access units are copied, not re-encoded, so the
// sender's own cost stays out of latency and CPU measurements. Loops at the end.
class FonteRepasse : public FonteVideo {
 public:
  // `entrada` must hold an H.264 stream.
  static std::variant<std::unique_ptr<FonteVideo>, std::string> abrir(Entrada entrada,
                                                                      std::optional<int> quadrosPorSegundo);

  FonteRepasse(Entrada entrada, FiltroPtr filtro, int quadrosPorSegundo);

  Tamanho tamanho() const override;
  std::chrono::nanoseconds intervalo() const override;
  const Mensagens::Parametros& parametros() const override { return *parametros_; }
  Lote proximos(bool keyframe) override;

 private:
  // The next access unit of the file, starting over at its end.
  std::variant<QuadroCodificado, std::string> lerQuadro();
  std::variant<QuadroCodificado, std::string> lerKeyframe();
  void guardar(const QuadroCodificado& quadro);

  Entrada entrada;
  FiltroPtr filtro;  // any H.264 packaging to Annex B
  Pacote pacote;
  int quadrosPorSegundo;
  std::optional<Mensagens::Parametros> parametros_;
  // The frames since the last key frame, so that a key frame can be sent on request
  // without re-encoding: the receiver gets that key frame and everything after it.
  std::vector<QuadroCodificado> desdeKeyframe;
  std::size_t bytesDesdeKeyframe = 0;
  int finsSemKeyframe = 0;
};

}  // namespace orbelo::emissor
