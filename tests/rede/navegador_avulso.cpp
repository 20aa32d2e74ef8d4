// Browses for a while where the test points D-Bus, then prints how many result sets came.
// Run as its own process: the system bus address is read once per process.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "receptor/plataforma/rede/TransporteAsio.hpp"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string tipo = argv[1];
  const auto duracao = std::chrono::milliseconds(std::stoi(argv[2]));
  std::atomic<int> relatos = 0;
  {
    orbelo::FilaAsio fila;
    orbelo::TransporteAsio transporte(fila);
    std::shared_ptr<orbelo::Navegador> navegador;
    std::promise<void> iniciado;
    fila.executar([&] {
      navegador = transporte.navegador(tipo, orbelo::ParametrosTls{});
      navegador->aoMudarResultados([&](const auto&) { ++relatos; });
      navegador->iniciar();
      iniciado.set_value();
    });
    iniciado.get_future().wait();
    std::this_thread::sleep_for(duracao);
    std::promise<void> cancelado;
    fila.executar([&] {
      navegador->cancelar();
      navegador.reset();
      cancelado.set_value();
    });
    cancelado.get_future().wait();
  }
  std::printf("%d\n", relatos.load());
  return 0;
}
