#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "receptor/plataforma/janela/FilaPrincipal.hpp"

namespace orbelo {
namespace {

using namespace std::chrono_literals;

TEST(FilaPrincipal, TasksFromOtherThreadsWakeTheLoopOnceAndRunOnItInEachThreadsOrder) {
  FilaPrincipal fila;
  std::vector<std::pair<int, int>> feitas;  // (thread, sequence)
  std::vector<std::thread> threads;
  constexpr int porThread = 3000;
  const auto principal = std::this_thread::get_id();
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&fila, &feitas, principal, t] {
      for (int i = 0; i < porThread; ++i) {
        fila.executar([&feitas, principal, t, i] {
          EXPECT_EQ(std::this_thread::get_id(), principal);
          feitas.emplace_back(t, i);
        });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  SDL_PumpEvents();
  SDL_Event eventos[8];
  const auto acordares = [&] {
    return SDL_PeepEvents(eventos, 8, SDL_GETEVENT, fila.tipoEvento(), fila.tipoEvento());
  };
  EXPECT_EQ(acordares(), 1);
  fila.executarPendentes();
  ASSERT_EQ(feitas.size(), 3u * porThread);
  std::vector<int> proxima(3, 0);
  for (auto [t, i] : feitas) EXPECT_EQ(i, proxima[t]++);

  // After the loop has drained the queue, the next post wakes it again; one posted by a
  // running task waits for the next round.
  std::string ordem;
  fila.executar([&] {
    ordem += 'a';
    fila.executar([&] { ordem += 'c'; });
  });
  fila.executar([&] { ordem += 'b'; });
  EXPECT_EQ(acordares(), 1);
  fila.executarPendentes();
  EXPECT_EQ(ordem, "ab");
  fila.executarPendentes();
  EXPECT_EQ(ordem, "abc");
  EXPECT_FALSE(fila.executarPendentes());

  // Delayed tasks run by deadline, never before it, and equal deadlines keep their order.
  ordem.clear();
  const auto inicio = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration quandoC{};
  fila.executarDepois(120ms, [&] { ordem += 'c', quandoC = std::chrono::steady_clock::now() - inicio; });
  fila.executarDepois(40ms, [&] { ordem += 'a'; });
  fila.executarDepois(40ms, [&] { ordem += 'b'; });
  for (std::optional<FilaPrincipal::Duracao> espera; (espera = fila.esperaAteProximo());
       fila.executarPendentes())
    std::this_thread::sleep_for(*espera);
  EXPECT_EQ(ordem, "abc");
  EXPECT_GE(quandoC, 120ms);
}

}  // namespace
}  // namespace orbelo
