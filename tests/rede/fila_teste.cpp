#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

#include "receptor/plataforma/rede/FilaAsio.hpp"

namespace orbelo {
namespace {

using namespace std::chrono_literals;
using Relogio = std::chrono::steady_clock;

TEST(FilaAsio, RunsTasksInOrderOnOneOtherThreadAndADelayedOneAfterItsDelayAndTheLaterOnes) {
  FilaAsio fila;
  std::vector<std::pair<int, std::thread::id>> feitas;  // touched only by the fila's thread until `pronto`
  std::promise<std::pair<Relogio::duration, std::size_t>> pronto;
  const auto inicio = Relogio::now();
  fila.executarDepois(150ms, [&] { pronto.set_value({Relogio::now() - inicio, feitas.size()}); });
  for (int i = 0; i < 1000; ++i) {
    fila.executar([&, i] { feitas.emplace_back(i, std::this_thread::get_id()); });
  }
  const auto [espera, antes] = pronto.get_future().get();
  EXPECT_GE(espera, 150ms);
  ASSERT_EQ(antes, 1000u);
  for (int i = 0; i < 1000; ++i) {
    EXPECT_EQ(feitas[i], std::pair(i, feitas[0].second));
  }
  EXPECT_NE(feitas[0].second, std::this_thread::get_id());
}

// Stopping lets the task in progress and those posted before it finish (a file being saved
// is not cut short); whatever is left is dropped unrun, with what it holds, and nothing waits.
TEST(FilaAsio, StoppingRunsTheTasksPostedBeforeItAndDestroyingDropsTheRest) {
  auto capturado = std::make_shared<int>(0);
  std::vector<int> feitas;  // touched by the fila's thread until it has stopped
  {
    FilaAsio fila;
    fila.executarDepois(1h, [&feitas, capturado] { feitas.push_back(0); });
    for (int i = 1; i <= 3; ++i) {
      fila.executar([&feitas, i] { feitas.push_back(i); });
    }
    fila.parar();
    fila.executar([&feitas, capturado] { feitas.push_back(4); });
  }
  EXPECT_EQ(feitas, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(capturado.use_count(), 1);
}

}  // namespace
}  // namespace orbelo
