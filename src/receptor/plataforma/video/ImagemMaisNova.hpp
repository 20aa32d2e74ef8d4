#pragma once

#include "RecursosFfmpeg.hpp"

namespace orbelo {

// One slot between the decoder and the screen: a newer picture replaces one
// not yet shown, so the screen never falls behind. Not thread-safe by itself.
class ImagemMaisNova {
 public:
  enum class Novidade { nenhuma, nova, removida };

  ImagemMaisNova();

  // Takes over `imagem`'s picture. True when the slot was empty, that is, when
  // the screen has not yet been told that a picture waits.
  bool colocar(AVFrame& imagem);
  // A waiting picture moves to `destino` (nova); otherwise whether the picture
  // on screen was removed since the last call (removida) or nothing changed.
  Novidade tomar(AVFrame& destino);
  // Drops a waiting picture; the screen goes black at its next `tomar`.
  void remover();
  // Whether `tomar` would report a change.
  bool mudou() const { return cheia || removida; }

 private:
  Imagem imagem;
  bool cheia = false;
  bool removida = false;
};

}  // namespace orbelo
