#include "Vistas.hpp"

#include <imgui_stdlib.h>

#include <algorithm>
#include <cmath>

namespace orbelo {
namespace {

constexpr float margemCampo = 6;  // points between a field's border and long text
constexpr float alturaMargemCampo = 4;
const ImVec2 margemBotao{16, 6};

// Titles may end in an "##id" that is not shown; other texts are shown whole, since
// they can carry what the user typed.
ImVec2 medir(ImFont* fonte, std::string_view texto, bool ocultarId = false) {
  ImGui::PushFont(fonte);
  auto tamanho = ImGui::CalcTextSize(texto.data(), texto.data() + texto.size(), ocultarId);
  ImGui::PopFont();
  return tamanho;
}

float alturaLinha(ImFont* fonte) {
  ImGui::PushFont(fonte);
  auto altura = ImGui::GetFontSize();
  ImGui::PopFont();
  return altura;
}

}  // namespace

ImVec2 Rotulo::tamanho() const {
  return medir(fonte, texto);
}

void Rotulo::desenhar(ImVec2 canto) const {
  ImGui::PushFont(fonte);
  const float largura = tamanho().x;
  const float altura = ImGui::GetFontSize();
  auto& lista = *ImGui::GetWindowDrawList();
  std::string_view resto = texto;
  for (float y = canto.y;; y += altura) {
    auto fim = resto.find('\n');
    auto linha = resto.substr(0, fim);
    float x =
        canto.x +
        std::floor((largura - ImGui::CalcTextSize(linha.data(), linha.data() + linha.size(), false).x) / 2);
    lista.AddText(ImGui::GetFont(), altura, {x, y}, ImGui::GetColorU32(cor), linha.data(),
                  linha.data() + linha.size());
    if (fim == std::string_view::npos) {
      break;
    }
    resto.remove_prefix(fim + 1);
  }
  ImGui::PopFont();
}

ImVec2 CampoTexto::tamanho() const {
  return {largura * unidades, alturaLinha(fonte) + 2 * alturaMargemCampo * unidades};
}

void CampoTexto::desenhar(ImVec2 canto, std::string& texto, bool focar) const {
  const auto medida = tamanho();
  // ImGui aligns field text to the left; padding that grows with the free room
  // centres it, placeholder included.
  const float ocupado = medir(fonte, texto.empty() ? dica : texto).x;
  const float margem = std::max(margemCampo * unidades, std::floor((medida.x - ocupado) / 2));
  ImGui::PushFont(fonte);
  ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, {margem, alturaMargemCampo * unidades});
  ImGui::SetCursorScreenPos(canto);
  ImGui::SetNextItemWidth(medida.x);
  if (focar) {
    ImGui::SetKeyboardFocusHere();
  }
  ImGui::InputTextWithHint(id, dica, &texto);
  ImGui::PopStyleVar();
  ImGui::PopFont();
}

ImVec2 Botao::tamanho() const {
  auto texto = medir(fonte, titulo, true);
  return {texto.x + 2 * margemBotao.x * unidades, texto.y + 2 * margemBotao.y * unidades};
}

bool Botao::desenhar(ImVec2 canto) const {
  ImGui::PushFont(fonte);
  ImGui::PushStyleColor(ImGuiCol_Button, cor);
  ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(cor.x * 1.15f, cor.y * 1.15f, cor.z * 1.15f, 1));
  ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(cor.x * 0.8f, cor.y * 0.8f, cor.z * 0.8f, 1));
  ImGui::SetCursorScreenPos(canto);
  const bool clicado = ImGui::Button(titulo, tamanho());
  ImGui::PopStyleColor(3);
  ImGui::PopFont();
  return clicado;
}

ImVec2 CaixaMarcacao::tamanho() const {
  const float lado = alturaLinha(fonte) + 2 * ImGui::GetStyle().FramePadding.y;
  const auto texto = medir(fonte, titulo, true);
  return {lado + ImGui::GetStyle().ItemInnerSpacing.x + texto.x, std::max(lado, texto.y)};
}

void CaixaMarcacao::desenhar(ImVec2 canto, bool& marcada) const {
  ImGui::PushFont(fonte);
  ImGui::SetCursorScreenPos(canto);
  ImGui::Checkbox(titulo, &marcada);
  ImGui::PopFont();
}

}  // namespace orbelo
