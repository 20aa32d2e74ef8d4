#pragma once

#include <cstddef>

namespace orbelo {

// A cap on the memory a C library holds at once, for its allocations on the thread that
// makes the budget and while the budget lives. Outside a budget every allocation fails.
class OrcamentoMemoria {
 public:
  explicit OrcamentoMemoria(std::size_t limite);
  ~OrcamentoMemoria();
  OrcamentoMemoria(const OrcamentoMemoria&) = delete;
  OrcamentoMemoria& operator=(const OrcamentoMemoria&) = delete;

  // malloc, realloc and free, charged to the thread's budget.
  static void* reservar(std::size_t tamanho);
  static void* redimensionar(void* bloco, std::size_t tamanho);
  static void liberar(void* bloco);

 private:
  std::size_t limite;
  std::size_t emUso = 0;
};

}  // namespace orbelo
