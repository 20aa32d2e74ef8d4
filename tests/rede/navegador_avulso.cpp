// Browses for a while in a process of its own (the system bus address is read once per
// process), printing each result set as one line: "-" and the names, and "sem serviço" each
// time the browser finds no daemon.

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "receptor/plataforma/rede/TransporteAsio.hpp"

int main(int /*argc*/, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  orbelo::FilaAsio fila;
  orbelo::TransporteAsio transporte(fila);
  std::shared_ptr<orbelo::Navegador> navegador;
  fila.executar([&, tipo = std::string(argv[1])] {
    navegador = transporte.navegador(tipo, orbelo::ParametrosTls{});
    navegador->aoMudarResultados([](const std::vector<orbelo::ResultadoBusca>& resultados) {
      std::string linha = "-";
      for (const auto& resultado : resultados) {
        linha += " " + resultado.nome;
      }
      std::puts(linha.c_str());
    });
    navegador->aoFaltarServico([] { std::puts("sem serviço"); });
    navegador->iniciar();
  });
  // The queue runs in order, so the browse has started before this cancels it.
  std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(argv[2])));
  fila.executar([&] {
    navegador->cancelar();
    navegador.reset();
  });
  fila.parar();
}
