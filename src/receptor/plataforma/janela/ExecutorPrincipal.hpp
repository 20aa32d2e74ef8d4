#pragma once

#include <SDL.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "RecursosSdl.hpp"
#include "receptor/Executor.hpp"

namespace orbelo {

// The main queue: any thread posts, the thread running the SDL event loop runs the
// tasks. A posted task wakes the loop with one SDL user event.
class ExecutorPrincipal : public Executor {
 public:
  using Relogio = std::chrono::steady_clock;

  ExecutorPrincipal();

  void executar(Tarefa tarefa) override;
  void executarDepois(Duracao atraso, Tarefa tarefa) override;
  // The thread that made it runs the loop.
  bool atual() const override { return std::this_thread::get_id() == dono; }

  // The event type that wakes the loop; the event itself carries nothing.
  Uint32 tipoEvento() const { return tipoEvento_; }

  // Main thread only. Time left until the next delayed task, none when there is none.
  std::optional<Duracao> esperaAteProximo() const;
  // Main thread only. Runs the posted tasks, then the delayed ones that are due, each
  // group in order; tasks posted meanwhile wait for the next call. True when any ran.
  bool executarPendentes();

 private:
  void acordar();

  SubsistemaSdl eventos{SDL_INIT_EVENTS};
  const std::thread::id dono = std::this_thread::get_id();
  Uint32 tipoEvento_;
  std::atomic<bool> acordada{false};

  mutable std::mutex travaTarefas;
  std::deque<Tarefa> tarefas;
  // Main thread only: the tasks being run, in storage kept from one call to the next,
  // so that the steady stream of posts allocates no queue memory each time.
  std::deque<Tarefa> emExecucao;
  std::vector<Tarefa> vencidas;
  // Equal deadlines keep their posting order (multimap inserts after equal keys).
  std::multimap<Relogio::time_point, Tarefa> atrasadas;
};

}  // namespace orbelo
