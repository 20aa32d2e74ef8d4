#pragma once

#include <chrono>
#include <optional>

#include "Opcoes.hpp"
#include "protocolo/Mensagens.hpp"

namespace orbelo::emissor {

struct PosicaoCursor {
  float x;
  float y;
};

namespace Cursor {

inline constexpr int ladoSeta = 24;

// A black arrow with a white rim, tip at the top-left corner, as a PNG file.
std::optional<Bytes> desenharSeta();

// The arrow's size relative to the picture, hot spot at its tip.
FormaCursor formaSeta(Tamanho imagem);

// A smooth closed path inside the picture, `decorrido` after the connection began.
PosicaoCursor posicao(std::chrono::duration<double> decorrido);

}  // namespace Cursor
}  // namespace orbelo::emissor
