#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <vector>

namespace orbelo {

// A per-frame timing trace of the video path, for measuring it: when each frame's
// last byte arrived, when its decoding started and ended, and when its picture
// reached the screen (the buffer swap returned). Off unless the environment
// variable ORBELO_MEDIR names a CSV file, written when the program ends. Callers
// hold a pointer to it and test it once per frame; with the arrival time every
// sample carries anyway, that is all the trace costs when off.
class MedicaoQuadros {
 public:
  using Instante = std::chrono::steady_clock::time_point;

  // Rows kept at most: over an hour at 60 frames per second, a few megabytes.
  static constexpr std::size_t limitePadrao = std::size_t{1} << 18;

  // The process's trace, or null when ORBELO_MEDIR is unset or empty.
  static MedicaoQuadros* doProcesso();

  explicit MedicaoQuadros(std::filesystem::path arquivo, std::size_t limite = limitePadrao);

  // Frame `numero`, counted from 0 in decoding order, arrived at `chegada` and
  // was decoded from `inicio` to `fim`. Frames past the limit are not kept.
  void decodificado(std::uint64_t numero, Instante chegada, Instante inicio, Instante fim);
  // The picture of frame `numero` reached the screen at `quando`.
  void apresentado(std::uint64_t numero, Instante quando);

  // Writes every row in frame order, times in nanoseconds of the monotonic
  // clock, a frame never shown with an empty last column. False when the file
  // could not be written.
  bool gravar() const;

 private:
  struct Linha {
    bool decodificado = false;
    Instante chegada;
    Instante inicio;
    Instante fim;
    Instante apresentado;
  };

  const std::filesystem::path arquivo;
  const std::size_t limite;
  mutable std::mutex trava;
  std::vector<Linha> linhas;  // indexed by frame number; guarded by `trava`
};

}  // namespace orbelo
