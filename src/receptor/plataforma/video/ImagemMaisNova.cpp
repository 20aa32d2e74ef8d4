#include "ImagemMaisNova.hpp"

namespace orbelo {

ImagemMaisNova::ImagemMaisNova() : imagem(av_frame_alloc()) {}

bool ImagemMaisNova::colocar(AVFrame& novo) {
  const bool estavaVazia = !cheia;
  if (cheia) {
    av_frame_unref(imagem.get());
  }
  av_frame_move_ref(imagem.get(), &novo);
  cheia = true;
  return estavaVazia;
}

ImagemMaisNova::Novidade ImagemMaisNova::tomar(AVFrame& destino) {
  if (cheia) {
    av_frame_unref(&destino);
    av_frame_move_ref(&destino, imagem.get());
    cheia = false;
    removida = false;
    return Novidade::nova;
  }
  if (removida) {
    removida = false;
    return Novidade::removida;
  }
  return Novidade::nenhuma;
}

void ImagemMaisNova::remover() {
  if (cheia) {
    av_frame_unref(imagem.get());
    cheia = false;
  }
  removida = true;
}

}  // namespace orbelo
