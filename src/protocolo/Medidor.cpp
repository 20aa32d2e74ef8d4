#include "Medidor.hpp"

#include <utility>

#include "Saida.hpp"

namespace orbelo {
namespace {

constexpr double janelaSegundos = 5.0;

}  // namespace

Medidor::Medidor(std::string rotulo, Relogio relogio, Impressora imprimir)
    : rotulo(std::move(rotulo)),
      relogio(relogio ? std::move(relogio) : Relogio([] { return std::chrono::steady_clock::now(); })),
      imprimir(imprimir ? std::move(imprimir) : Impressora(imprimirLinha)),
      inicio(this->relogio()) {}

void Medidor::registrar(std::int64_t bytes) {
  ++quadros;
  this->bytes += bytes;
  talvezImprimir();
}

void Medidor::descartado() {
  ++descartes;
  talvezImprimir();
}

void Medidor::zerar() {
  quadros = 0;
  bytes = 0;
  descartes = 0;
  inicio = relogio();
}

void Medidor::talvezImprimir() {
  const auto agora = relogio();
  const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(agora - inicio).count();
  const double decorrido = static_cast<double>(nanos) / 1e9;
  if (decorrido < janelaSegundos) {
    return;
  }
  std::string resumo = decimal(static_cast<double>(quadros) / decorrido, 0) + " quadros/s \u00B7 " +
                       decimal(static_cast<double>(bytes) * 8.0 / decorrido / 1e6, 1) + " Mbps";
  if (descartes > 0) {
    resumo += " \u00B7 " + std::to_string(descartes) + " descartados (rede lenta)";
  }
  imprimir(rotulo + ": " + resumo);
  quadros = 0;
  bytes = 0;
  descartes = 0;
  inicio = agora;
}

}  // namespace orbelo
