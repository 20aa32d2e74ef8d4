#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "receptor/CamadaVideo.hpp"

namespace orbelo {

// Samples waiting for the decoder, in order, bounded in count and bytes. The
// ring is allocated once, so queuing a sample allocates nothing. Not thread-safe.
class AnelAmostras {
 public:
  AnelAmostras(std::size_t limiteAmostras, std::size_t limiteBytes);

  // False, leaving `amostra` untouched, when it does not fit. A lone sample
  // always fits, however big, so that no frame is refused outright.
  bool colocar(Amostra& amostra);
  std::optional<Amostra> tirar();
  void esvaziar();
  bool vazia() const { return quantidade == 0; }

 private:
  std::vector<Amostra> anel;
  std::size_t inicio = 0;
  std::size_t quantidade = 0;
  std::size_t bytes = 0;
  std::size_t limiteBytes;
};

}  // namespace orbelo
