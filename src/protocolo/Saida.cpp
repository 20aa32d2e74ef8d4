#include "Saida.hpp"

#include <charconv>
#include <cstdio>
#include <string>

namespace orbelo {

void imprimirLinha(std::string_view linha) {
  std::string texto;
  texto.reserve(linha.size() + 1);
  texto.append(linha).push_back('\n');
  std::fwrite(texto.data(), 1, texto.size(), stdout);
}

// 512 characters hold any double in fixed notation with a few decimals.
std::string decimal(double valor, int casas) {
  char texto[512];
  const auto resultado = std::to_chars(texto, texto + sizeof texto, valor, std::chars_format::fixed, casas);
  return std::string(texto, resultado.ptr);
}

}  // namespace orbelo
