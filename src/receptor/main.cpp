#include <cstdio>
#include <string_view>
#include <variant>
#include <vector>

#include "OpcoesReceptor.hpp"
#include "protocolo/Saida.hpp"

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  const std::vector<std::string_view> argumentos(argv, argv + argc);
  const auto lido = orbelo::OpcoesReceptor::ler(argumentos);
  if (const auto* saida = std::get_if<orbelo::SaidaAntecipada>(&lido)) {
    orbelo::imprimirLinha(saida->texto);
    return saida->status;
  }
  return 0;
}
