#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "receptor/plataforma/rede/FilaAsio.hpp"

namespace orbelo {
namespace {

using namespace std::chrono_literals;
using Relogio = std::chrono::steady_clock;

TEST(FilaAsio, RunsTasksOneAtATimeInTheOrderGivenOnOneOtherThread) {
  FilaAsio fila;
  std::vector<int> ordem;  // touched only by the fila's thread until `pronto`
  std::vector<std::thread::id> linhas;
  std::promise<void> pronto;
  for (int i = 0; i < 1000; ++i) {
    fila.executar([&, i] {
      ordem.push_back(i);
      linhas.push_back(std::this_thread::get_id());
    });
  }
  fila.executar([&] { pronto.set_value(); });
  pronto.get_future().wait();
  ASSERT_EQ(ordem.size(), 1000u);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(ordem[i], i);
  for (const auto linha : linhas) EXPECT_EQ(linha, linhas.front());
  EXPECT_NE(linhas.front(), std::this_thread::get_id());
}

TEST(FilaAsio, ADelayedTaskRunsAfterItsDelayAndLetsLaterTasksGoFirst) {
  FilaAsio fila;
  std::vector<char> ordem;
  std::promise<Relogio::time_point> rodou;
  const auto inicio = Relogio::now();
  fila.executarDepois(150ms, [&] {
    ordem.push_back('d');
    rodou.set_value(Relogio::now());
  });
  fila.executar([&] { ordem.push_back('i'); });
  const auto quando = rodou.get_future().get();
  EXPECT_GE(quando - inicio, 150ms);
  EXPECT_EQ(ordem, (std::vector<char>{'i', 'd'}));
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
