#include "AnelAmostras.hpp"

namespace orbelo {

AnelAmostras::AnelAmostras(std::size_t limiteAmostras, std::size_t limiteBytes)
    : anel(limiteAmostras), limiteBytes(limiteBytes) {}

bool AnelAmostras::colocar(Amostra& amostra) {
  const std::size_t tamanho = amostra.payload.size();
  if (quantidade == anel.size() ||
      (quantidade > 0 && (bytes >= limiteBytes || tamanho > limiteBytes - bytes))) {
    return false;
  }
  anel[(inicio + quantidade) % anel.size()] = std::move(amostra);
  ++quantidade;
  bytes += tamanho;
  return true;
}

std::optional<Amostra> AnelAmostras::tirar() {
  if (quantidade == 0) {
    return std::nullopt;
  }
  Amostra amostra = std::move(anel[inicio]);
  anel[inicio] = Amostra{};
  inicio = (inicio + 1) % anel.size();
  --quantidade;
  bytes -= amostra.payload.size();
  return amostra;
}

void AnelAmostras::esvaziar() {
  while (tirar()) {
  }
}

}  // namespace orbelo
