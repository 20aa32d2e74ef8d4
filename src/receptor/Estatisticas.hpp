#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "CamadaVideo.hpp"

namespace orbelo {

// What the statistics overlay shows, gathered from the network thread and the video layer.
struct Estatisticas {
  std::optional<std::string> tamanhoImagem;  // the sender's picture, "1920x1080"
  double recebidosPorSegundo = 0;
  double megabitsPorSegundo = 0;
  ResumoVideo video;
  std::optional<std::string> interfaceRede;
  std::optional<std::string> suite;
  std::optional<std::string> emissor;
  std::int64_t reconexoes = 0;
};

// One line per figure; "—" for what is not known yet.
std::string textoEstatisticas(const Estatisticas& estatisticas);

}  // namespace orbelo
