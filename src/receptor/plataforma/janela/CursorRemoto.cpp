#include "CursorRemoto.hpp"

#include <cstdint>

namespace orbelo {

void CursorRemoto::desenhar(const EstadoTela& estado, ImDrawList& lista, float alturaPixels,
                            float escalaFramebuffer) {
  if (estado.imagemCursor != imagem_) {
    imagem_ = estado.imagemCursor;
    textura_.reset();
    if (imagem_) textura_.emplace(*imagem_);
  }
  if (estado.cursorOculto || !textura_) return;
  const auto& q = estado.quadroCursor;
  const ImVec2 cima(static_cast<float>(q.x) / escalaFramebuffer,
                    (alturaPixels - static_cast<float>(q.y + q.altura)) / escalaFramebuffer);
  const ImVec2 baixo(cima.x + static_cast<float>(q.largura) / escalaFramebuffer,
                     cima.y + static_cast<float>(q.altura) / escalaFramebuffer);
  lista.AddImage(reinterpret_cast<ImTextureID>(static_cast<std::uintptr_t>(textura_->id())), cima, baixo);
}

}  // namespace orbelo
