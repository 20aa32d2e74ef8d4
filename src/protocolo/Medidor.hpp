#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "protocolo/Saida.hpp"

namespace orbelo {

// Frame and bit-rate meter: one summary line about every five seconds while frames flow.
class Medidor {
 public:
  using Relogio = std::function<std::chrono::steady_clock::time_point()>;

  // Defaults: the monotonic clock and a line on standard output.
  explicit Medidor(std::string rotulo, Relogio relogio = {}, Impressora imprimir = {});

  void registrar(std::int64_t bytes);
  void descartado();
  void zerar();

  const std::string rotulo;

 private:
  void talvezImprimir();

  Relogio relogio;
  Impressora imprimir;
  std::int64_t quadros = 0;
  std::int64_t bytes = 0;
  std::int64_t descartes = 0;
  std::chrono::steady_clock::time_point inicio;
};

}  // namespace orbelo
