#include "Tentativas.hpp"

#include <algorithm>

namespace orbelo::emissor {

namespace {

// Doublings after which the refusal has passed its maximum anyway.
constexpr int dobrasMaximas = 9;

}  // namespace

bool Tentativas::liberado(const std::string& endereco, Relogio::time_point agora) const {
  const auto registro = registros.find(endereco);
  return registro == registros.end() || agora >= registro->second.liberadoEm;
}

std::optional<std::chrono::seconds> Tentativas::registrarFalha(const std::string& endereco,
                                                               Relogio::time_point agora) {
  auto encontrado = registros.find(endereco);
  if (encontrado == registros.end()) {
    if (registros.size() >= enderecosMaximos) {
      registros.erase(
          std::ranges::min_element(registros, {}, [](const auto& par) { return par.second.liberadoEm; }));
    }
    encontrado = registros.emplace(endereco, Registro{}).first;
  }
  auto& registro = encontrado->second;
  registro.falhas = std::min(registro.falhas + 1, falhasLivres + dobrasMaximas);
  registro.liberadoEm = agora;
  if (registro.falhas < falhasLivres) {
    return std::nullopt;
  }
  const auto bloqueio = std::min(primeiroBloqueio * (1 << (registro.falhas - falhasLivres)), bloqueioMaximo);
  registro.liberadoEm = agora + bloqueio;
  return bloqueio;
}

}  // namespace orbelo::emissor
