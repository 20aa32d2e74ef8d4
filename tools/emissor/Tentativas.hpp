#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace orbelo::emissor {

// Failed handshakes per peer address. Each guess at the pairing code costs a handshake, so
// after a few failures the address is refused for a time that doubles with every further
// failure; a success forgets it.
class Tentativas {
 public:
  using Relogio = std::chrono::steady_clock;

  static constexpr int falhasLivres = 5;
  static constexpr std::chrono::seconds primeiroBloqueio{1};
  static constexpr std::chrono::seconds bloqueioMaximo{300};
  // Many addresses must not grow memory: the one least held back is forgotten first.
  static constexpr std::size_t enderecosMaximos = 256;

  // Whether `endereco` may start a handshake now.
  bool liberado(const std::string& endereco, Relogio::time_point agora) const;
  // Counts a failure; how long the address is now refused, if it is.
  std::optional<std::chrono::seconds> registrarFalha(const std::string& endereco, Relogio::time_point agora);
  void registrarSucesso(const std::string& endereco) { registros.erase(endereco); }

 private:
  struct Registro {
    int falhas = 0;
    // The end of its refusal, or its last failure while it has none.
    Relogio::time_point liberadoEm;
  };
  std::map<std::string, Registro> registros;
};

}  // namespace orbelo::emissor
