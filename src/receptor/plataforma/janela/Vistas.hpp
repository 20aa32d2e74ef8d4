#pragma once

#include <imgui.h>

#include <string>
#include <string_view>

namespace orbelo {

// The few kinds of view the notices and the pairing panel are made of, drawn with ImGui.
// Each has a size, measured before the stack is laid out, and a drawing at a corner.
// Lengths are in points; `unidades` turns them into ImGui units.

inline ImVec4 cinza(float nivel) {
  return {nivel, nivel, nivel, 1};
}

// A label; each of its lines is centred.
struct Rotulo {
  ImFont* fonte;
  ImVec4 cor;
  std::string_view texto;

  ImVec2 tamanho() const;
  void desenhar(ImVec2 canto) const;
};

// A one-line text field with its text centred, and a placeholder while it is empty.
struct CampoTexto {
  ImFont* fonte;
  const char* id;
  const char* dica;
  float largura;  // points
  float unidades;

  ImVec2 tamanho() const;
  void desenhar(ImVec2 canto, std::string& texto, bool focar) const;
};

// A push button; true on the frame it is clicked.
struct Botao {
  ImFont* fonte;
  const char* titulo;  // may carry an "##id" suffix
  ImVec4 cor;
  float unidades;

  ImVec2 tamanho() const;
  bool desenhar(ImVec2 canto) const;
};

struct CaixaMarcacao {
  ImFont* fonte;
  const char* titulo;
  float unidades;

  ImVec2 tamanho() const;
  void desenhar(ImVec2 canto, bool& marcada) const;
};

}  // namespace orbelo
