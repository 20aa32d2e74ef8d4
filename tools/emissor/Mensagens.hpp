#pragma once

#include <chrono>
#include <optional>

#include "Fonte.hpp"
#include "protocolo/Protocolo.hpp"

namespace orbelo::emissor {

// Pointer image size and hot spot, as fractions (of the picture, then of the image).
struct FormaCursor {
  float largura;
  float altura;
  float pontaX;
  float pontaY;
};

// Complete frames of the messages the sender writes.
namespace Mensagens {

Bytes config(Tamanho tamanho);
// None when a parameter set does not fit its 16-bit length.
std::optional<Bytes> parametros(const ParametrosH264& parametros);
Bytes quadro(const QuadroCodificado& quadro);
Bytes cursor(float x, float y, bool visivel);
Bytes imagemCursor(FormaCursor forma, VistaBytes imagem);
// The payload is the send time, so that the `pong` that echoes it gives the round trip.
Bytes ping(std::chrono::steady_clock::time_point agora);

// Round trip of a `pong` payload; none when it is not one of our pings.
std::optional<std::chrono::nanoseconds> idaEVolta(VistaBytes pong,
                                                  std::chrono::steady_clock::time_point agora);

}  // namespace Mensagens
}  // namespace orbelo::emissor
