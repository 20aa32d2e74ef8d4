#include "PilhaVertical.hpp"

#include <cmath>

namespace orbelo {

std::vector<ImVec2> disporPilha(std::span<const ItemPilha> itens, ImVec2 area) {
  float altura = 0;
  float espacoPendente = 0;
  for (const auto& item : itens) {
    if (item.oculto) {
      continue;
    }
    altura += espacoPendente + item.tamanho.y;
    espacoPendente = item.espacoDepois;
  }

  std::vector<ImVec2> cantos;
  cantos.reserve(itens.size());
  float y = std::floor((area.y - altura) / 2);
  espacoPendente = 0;
  for (const auto& item : itens) {
    if (item.oculto) {
      cantos.emplace_back(std::floor((area.x - item.tamanho.x) / 2), y);
      continue;
    }
    y += espacoPendente;
    cantos.emplace_back(std::floor((area.x - item.tamanho.x) / 2), std::floor(y));
    y += item.tamanho.y;
    espacoPendente = item.espacoDepois;
  }
  return cantos;
}

}  // namespace orbelo
