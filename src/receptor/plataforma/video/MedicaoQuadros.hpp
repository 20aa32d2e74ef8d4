#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <vector>

#include "receptor/CamadaVideo.hpp"

namespace orbelo {

// A per-frame timing trace of the video path: when each frame's last byte arrived, when
// its decoding started and ended, and when its picture reached the screen (the buffer
// swap returned). Kept for a CSV file when the environment variable ORBELO_MEDIR names
// one (written when the program ends), and over the last seconds while the statistics
// overlay is shown. Callers ask `ligada` once per frame and take no time when it is off.
class MedicaoQuadros {
 public:
  using Instante = std::chrono::steady_clock::time_point;

  // Rows kept at most: over an hour at 60 frames per second, a few megabytes.
  static constexpr std::size_t limitePadrao = std::size_t{1} << 18;

  // The process's trace; it keeps rows for a file only when ORBELO_MEDIR is set.
  static MedicaoQuadros* doProcesso();

  // No file when `arquivo` is empty.
  explicit MedicaoQuadros(std::filesystem::path arquivo, std::size_t limite = limitePadrao);

  bool ligada() const { return !arquivo.empty() || aoVivo.load(std::memory_order_relaxed); }
  void medirAoVivo(bool ligado);
  // The frames that arrived in the last `janelaAoVivo` before `agora`.
  ResumoVideo resumo(Instante agora) const;
  static constexpr std::chrono::seconds janelaAoVivo{3};

  // Frame `numero`, counted from 0 in decoding order, arrived at `chegada` and
  // was decoded from `inicio` to `fim`. Frames past the limit are not kept.
  void decodificado(std::uint64_t numero, Instante chegada, Instante inicio, Instante fim);
  // The picture of frame `numero` reached the screen at `quando`.
  void apresentado(std::uint64_t numero, Instante quando);

  // Writes every row in frame order, times in nanoseconds of the monotonic
  // clock, a frame never shown with an empty last column. False when the file
  // could not be written; true, writing nothing, when there is no file.
  bool gravar() const;

 private:
  struct Linha {
    bool decodificado = false;
    Instante chegada;
    Instante inicio;
    Instante fim;
    Instante apresentado;
  };

  struct Recente {
    std::uint64_t numero;
    Linha linha;
  };
  // A few seconds at the highest frame rates a sender offers.
  static constexpr std::size_t limiteRecentes = 1024;

  const std::filesystem::path arquivo;
  const std::size_t limite;
  std::atomic<bool> aoVivo{false};
  mutable std::mutex trava;
  std::vector<Linha> linhas;     // indexed by frame number; guarded by `trava`
  std::deque<Recente> recentes;  // in frame order, while live; guarded by `trava`
  Instante inicioAoVivo;         // guarded by `trava`
};

}  // namespace orbelo
