#include "Saida.hpp"

#include <cstdio>
#include <string>

namespace orbelo {

void imprimirLinha(std::string_view linha) {
  std::string texto;
  texto.reserve(linha.size() + 1);
  texto.append(linha).push_back('\n');
  std::fwrite(texto.data(), 1, texto.size(), stdout);
}

}  // namespace orbelo
