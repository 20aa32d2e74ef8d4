#include "ContextoImGui.hpp"

#include <backends/imgui_impl_opengl3.h>
#include <backends/imgui_impl_sdl.h>
#include <imgui.h>

namespace orbelo {
namespace {

void estilizar(float unidades) {
  auto& estilo = ImGui::GetStyle();
  ImGui::StyleColorsDark(&estilo);
  estilo.WindowPadding = {0, 0};
  estilo.WindowBorderSize = 0;
  estilo.FrameRounding = 6;
  estilo.FrameBorderSize = 1;
  estilo.ItemInnerSpacing = {8, 4};
  estilo.ScaleAllSizes(unidades);

  auto* cores = estilo.Colors;
  cores[ImGuiCol_Text] = {1, 1, 1, 1};
  cores[ImGuiCol_TextDisabled] = {0.45f, 0.45f, 0.45f, 1};  // placeholders
  cores[ImGuiCol_FrameBg] = {0.15f, 0.15f, 0.16f, 1};
  cores[ImGuiCol_FrameBgHovered] = {0.18f, 0.18f, 0.19f, 1};
  cores[ImGuiCol_FrameBgActive] = {0.18f, 0.18f, 0.19f, 1};
  cores[ImGuiCol_Border] = {1, 1, 1, 0.18f};
  cores[ImGuiCol_CheckMark] = {1, 1, 1, 1};
  cores[ImGuiCol_TextSelectedBg] = {0.04f, 0.46f, 0.92f, 0.55f};
  cores[ImGuiCol_NavHighlight] = {0.04f, 0.46f, 0.92f, 1};
}

}  // namespace

ContextoImGui::ContextoImGui(SDL_Window* janela, void* contextoGl, float unidades) {
  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  auto& io = ImGui::GetIO();
  io.IniFilename = nullptr;
  io.LogFilename = nullptr;
  io.ConfigFlags |= ImGuiConfigFlags_NoMouseCursorChange;
  // Frames are drawn only when something changes, so a blinking caret would freeze
  // half the time.
  io.ConfigInputTextCursorBlink = false;
  estilizar(unidades);
  ImGui_ImplSDL2_InitForOpenGL(janela, contextoGl);
  ImGui_ImplOpenGL3_Init("#version 330 core");
}

ContextoImGui::~ContextoImGui() {
  ImGui_ImplOpenGL3_Shutdown();
  ImGui_ImplSDL2_Shutdown();
  ImGui::DestroyContext();
}

}  // namespace orbelo
