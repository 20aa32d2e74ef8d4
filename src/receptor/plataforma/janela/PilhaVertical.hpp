#pragma once

#include <imgui.h>

#include <span>
#include <vector>

namespace orbelo {

// One view of a vertical stack: its size and the room left after it.
struct ItemPilha {
  ImVec2 tamanho;
  float espacoDepois = 0;
  bool oculto = false;
};

// Top-left corner of each view when the stack is centred in `area` and each view is
// centred across it. Hidden views take no room, and the spacing after them goes with
// them. Corners fall on whole units so that text stays sharp.
std::vector<ImVec2> disporPilha(std::span<const ItemPilha> itens, ImVec2 area);

}  // namespace orbelo
