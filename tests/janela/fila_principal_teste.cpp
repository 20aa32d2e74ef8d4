#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "receptor/plataforma/janela/ExecutorPrincipal.hpp"

namespace orbelo {
namespace {

using namespace std::chrono_literals;

TEST(ExecutorPrincipal, TasksFromOtherThreadsWakeTheLoopOnceAndRunOnItInEachThreadsOrder) {
  ExecutorPrincipal executorPrincipal;
  std::vector<std::pair<int, int>> feitas;  // (thread, sequence)
  constexpr int porThread = 3000;
  const auto principal = std::this_thread::get_id();
  // Three threads, joined as the loop ends.
  for (std::vector<std::jthread> threads; threads.size() < 3;) {
    threads.emplace_back([&executorPrincipal, &feitas, principal, t = static_cast<int>(threads.size())] {
      for (int i = 0; i < porThread; ++i) {
        executorPrincipal.executar([&feitas, principal, t, i] {
          EXPECT_EQ(std::this_thread::get_id(), principal);
          feitas.emplace_back(t, i);
        });
      }
    });
  }
  SDL_PumpEvents();
  SDL_Event eventos[8];
  const auto acordares = [&] {
    return SDL_PeepEvents(eventos, 8, SDL_GETEVENT, executorPrincipal.tipoEvento(),
                          executorPrincipal.tipoEvento());
  };
  EXPECT_EQ(acordares(), 1);
  executorPrincipal.executarPendentes();
  ASSERT_EQ(feitas.size(), 3u * porThread);
  std::vector<int> proxima(3, 0);
  for (auto [t, i] : feitas) {
    EXPECT_EQ(i, proxima[t]++);
  }

  // After the loop has drained the queue, the next post wakes it again; one posted by a
  // running task waits for the next round.
  std::string ordem;
  executorPrincipal.executar([&] {
    ordem += 'a';
    executorPrincipal.executar([&] { ordem += 'c'; });
  });
  executorPrincipal.executar([&] { ordem += 'b'; });
  EXPECT_EQ(acordares(), 1);
  executorPrincipal.executarPendentes();
  EXPECT_EQ(ordem, "ab");
  executorPrincipal.executarPendentes();
  EXPECT_EQ(ordem, "abc");

  // Delayed tasks run by deadline, never before it, and equal deadlines keep their order.
  ordem.clear();
  const auto inicio = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration quandoC{};
  executorPrincipal.executarDepois(
      120ms, [&] { ordem += 'c', quandoC = std::chrono::steady_clock::now() - inicio; });
  executorPrincipal.executarDepois(40ms, [&] { ordem += 'a'; });
  executorPrincipal.executarDepois(40ms, [&] { ordem += 'b'; });
  for (std::optional<ExecutorPrincipal::Duracao> espera; (espera = executorPrincipal.esperaAteProximo());
       executorPrincipal.executarPendentes()) {
    std::this_thread::sleep_for(*espera);
  }
  EXPECT_EQ(ordem, "abc");
  EXPECT_GE(quandoC, 120ms);
}

}  // namespace
}  // namespace orbelo
