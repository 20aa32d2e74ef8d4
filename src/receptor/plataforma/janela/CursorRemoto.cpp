#include "CursorRemoto.hpp"

#include <cstdint>

namespace orbelo {

void CursorRemoto::desenhar(const EstadoTela& estado, ImDrawList& lista, float alturaPixels,
                            float escalaFramebuffer) {
  if (estado.imagemCursor != imagem) {
    imagem = estado.imagemCursor;
    textura.reset();
    if (imagem) {
      textura.emplace(*imagem);
    }
  }
  if (estado.cursorOculto || !textura) {
    return;
  }
  const auto& q = estado.retanguloCursor;
  const ImVec2 cima(static_cast<float>(q.x) / escalaFramebuffer,
                    (alturaPixels - static_cast<float>(q.y + q.altura)) / escalaFramebuffer);
  const ImVec2 baixo(cima.x + static_cast<float>(q.largura) / escalaFramebuffer,
                     cima.y + static_cast<float>(q.altura) / escalaFramebuffer);
  lista.AddImage(reinterpret_cast<ImTextureID>(static_cast<std::uintptr_t>(textura->id())), cima, baixo);
}

}  // namespace orbelo
