#include <gtest/gtest.h>

#include <future>
#include <numeric>
#include <thread>
#include <vector>

#include "receptor/plataforma/rede/FilaAsio.hpp"

namespace orbelo {
namespace {

using namespace std::chrono_literals;
using Relogio = std::chrono::steady_clock;

// Stopping lets the tasks posted before it finish (a file being saved is not cut short);
// whatever is left is dropped unrun, with what it holds, and nothing waits.
TEST(FilaAsio, RunsTasksInOrderOnOneOtherThreadADelayedOneAfterItsDelayAndNothingPostedOrDueAfterItStops) {
  auto capturado = std::make_shared<int>(0);
  std::vector<int> feitas;  // touched only by the fila's thread until it stops
  {
    FilaAsio fila;
    std::promise<Relogio::duration> pronto;
    const auto inicio = Relogio::now();
    fila.executarDepois(150ms, [&] { pronto.set_value(Relogio::now() - inicio); });
    fila.executarDepois(1h, [&feitas, capturado] { feitas.push_back(-1); });
    const auto postar = [&](int de) {
      for (int i = de; i < de + 1000; ++i) {
        fila.executar([&, i] { feitas.push_back(fila.atual() ? i : -1); });
      }
    };
    postar(0);
    EXPECT_GE(pronto.get_future().get(), 150ms);
    postar(1000);
    fila.parar();
    fila.executar([&feitas, capturado] { feitas.push_back(-1); });
  }
  std::vector<int> esperadas(2000);
  std::iota(esperadas.begin(), esperadas.end(), 0);
  EXPECT_EQ(feitas, esperadas);
  EXPECT_EQ(capturado.use_count(), 1);
}

}  // namespace
}  // namespace orbelo
