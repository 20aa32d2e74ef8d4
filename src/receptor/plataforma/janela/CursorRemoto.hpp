#pragma once

#include <imgui.h>

#include <memory>
#include <optional>

#include "TexturaGl.hpp"
#include "receptor/EstadoTela.hpp"

namespace orbelo {

// The sender's pointer: its picture stretched to the frame the receiver placed it in.
// Only on the main thread.
class CursorRemoto {
 public:
  // `alturaPixels` is the content's height, to turn the frame's bottom-left origin
  // into ImGui's top-left one; `escalaFramebuffer` is pixels per ImGui unit.
  void desenhar(const EstadoTela& estado, ImDrawList& lista, float alturaPixels, float escalaFramebuffer);

 private:
  std::shared_ptr<const ImagemCursor> imagem;
  std::optional<TexturaGl> textura;
};

}  // namespace orbelo
