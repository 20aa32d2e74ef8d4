#include <gtest/gtest.h>

#include <future>
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
  std::vector<std::pair<int, std::thread::id>> feitas;  // touched only by the fila's thread until it stops
  {
    FilaAsio fila;
    std::promise<std::pair<Relogio::duration, std::size_t>> pronto;
    const auto inicio = Relogio::now();
    fila.executarDepois(150ms, [&] { pronto.set_value({Relogio::now() - inicio, feitas.size()}); });
    fila.executarDepois(1h, [&feitas, capturado] { feitas.emplace_back(-1, std::thread::id()); });
    const auto postar = [&](int de) {
      for (int i = de; i < de + 1000; ++i) {
        fila.executar([&, i] { feitas.emplace_back(i, std::this_thread::get_id()); });
      }
    };
    postar(0);
    const auto [espera, antes] = pronto.get_future().get();
    EXPECT_GE(espera, 150ms);
    EXPECT_EQ(antes, 1000u);
    postar(1000);
    fila.parar();
    fila.executar([&feitas, capturado] { feitas.emplace_back(-2, std::thread::id()); });
  }
  ASSERT_EQ(feitas.size(), 2000u);
  for (int i = 0; i < 2000; ++i) {
    EXPECT_EQ(feitas[i], std::pair(i, feitas[0].second));
  }
  EXPECT_NE(feitas[0].second, std::this_thread::get_id());
  EXPECT_EQ(capturado.use_count(), 1);
}

}  // namespace
}  // namespace orbelo
