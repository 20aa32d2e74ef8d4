#include "OrcamentoMemoria.hpp"

#include <cstdlib>
#include <cstring>

namespace orbelo {
namespace {

thread_local OrcamentoMemoria* atual = nullptr;

// Each block starts with its size, so that freeing it gives the budget back.
constexpr std::size_t cabecalho = alignof(std::max_align_t);

std::byte* inicioDe(void* bloco) {
  return bloco ? static_cast<std::byte*>(bloco) - cabecalho : nullptr;
}

std::size_t tamanhoDe(const std::byte* inicio) {
  std::size_t tamanho = 0;
  if (inicio) {
    std::memcpy(&tamanho, inicio, sizeof tamanho);
  }
  return tamanho;
}

}  // namespace

OrcamentoMemoria::OrcamentoMemoria(std::size_t limite) : limite(limite) {
  atual = this;
}

OrcamentoMemoria::~OrcamentoMemoria() {
  atual = nullptr;
}

void* OrcamentoMemoria::reservar(std::size_t tamanho) {
  return redimensionar(nullptr, tamanho);
}

void* OrcamentoMemoria::redimensionar(void* bloco, std::size_t tamanho) {
  auto* inicio = inicioDe(bloco);
  const auto antes = tamanhoDe(inicio);
  if (!atual || tamanho > atual->limite - (atual->emUso - antes)) {
    return nullptr;
  }
  auto* novo = static_cast<std::byte*>(std::realloc(inicio, cabecalho + tamanho));
  if (!novo) {
    return nullptr;
  }
  atual->emUso = atual->emUso - antes + tamanho;
  std::memcpy(novo, &tamanho, sizeof tamanho);
  return novo + cabecalho;
}

void OrcamentoMemoria::liberar(void* bloco) {
  auto* inicio = inicioDe(bloco);
  if (atual) {
    atual->emUso -= tamanhoDe(inicio);
  }
  std::free(inicio);
}

}  // namespace orbelo
