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
  for (int i = 0; i < 1000; ++i) fila.executar([&, i] { feitas.emplace_back(i, std::this_thread::get_id()); });
  const auto [espera, antes] = pronto.get_future().get();
  EXPECT_GE(espera, 150ms);
  ASSERT_EQ(antes, 1000u);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(feitas[i], std::pair(i, feitas[0].second));
  EXPECT_NE(feitas[0].second, std::this_thread::get_id());
}

TEST(FilaAsio, DestroyingItNeitherWaitsForNorRunsWhatIsStillPending) {
  auto capturado = std::make_shared<int>(0);
  bool rodou = false;
  {
    FilaAsio fila;
    std::promise<void> ocupada;
    // Holds the thread until destruction has begun, so the tasks below are still queued then.
    fila.executar([&] {
      ocupada.set_value();
      while (!fila.contexto().stopped()) std::this_thread::sleep_for(1ms);
    });
    ocupada.get_future().wait();
    fila.executarDepois(1h, [&rodou, capturado] { rodou = true; });
    fila.executar([&rodou, capturado] { rodou = true; });
  }
  EXPECT_FALSE(rodou);
  EXPECT_EQ(capturado.use_count(), 1);
}

}  // namespace
}  // namespace orbelo
