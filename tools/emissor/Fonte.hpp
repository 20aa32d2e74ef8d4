#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Opcoes.hpp"
#include "protocolo/Mensagens.hpp"

namespace orbelo::emissor {

// One access unit, its NAL units length-prefixed (4 bytes), ready for a `quadro`.
struct QuadroCodificado {
  Bytes unidades;
  bool keyframe = false;

  Bytes empacotar() const { return Mensagens::Quadro{keyframe, unidades}.empacotar(); }
};

// What a source yields per tick: frames to send now, or why it cannot go on.
struct Lote {
  std::vector<QuadroCodificado> quadros;
  std::optional<std::string> erro;
};

// A stream of H.264 pictures paced by the caller.
class FonteVideo {
 public:
  virtual ~FonteVideo() = default;

  virtual Tamanho tamanho() const = 0;
  virtual std::chrono::nanoseconds intervalo() const = 0;
  // Current parameter sets; they may change between ticks.
  virtual const Mensagens::Parametros& parametros() const = 0;
  // Whether the pointer is drawn by the receiver (false when it is already in the picture).
  virtual bool ponteiroSeparado() const { return true; }

  // The frames of the next tick; with `keyframe` the first of them decodes on its own.
  virtual Lote proximos(bool keyframe) = 0;
};

// The source the options name; the error is a line for the user.
std::variant<std::unique_ptr<FonteVideo>, std::string> abrirFonte(const OpcoesEmissor& opcoes);

}  // namespace orbelo::emissor
