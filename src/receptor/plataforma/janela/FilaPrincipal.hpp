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
#include "receptor/Fila.hpp"

namespace orbelo {

// The main queue: any thread posts, the thread running the SDL event loop runs the
// tasks. A posted task wakes the loop with one SDL user event.
class FilaPrincipal : public Fila {
 public:
  using Relogio = std::chrono::steady_clock;

  FilaPrincipal();

  void executar(Tarefa tarefa) override;
  void executarDepois(Duracao atraso, Tarefa tarefa) override;
  // The thread that made it runs the loop.
  bool atual() const override { return std::this_thread::get_id() == dono_; }

  // The event type that wakes the loop; the event itself carries nothing.
  Uint32 tipoEvento() const { return tipoEvento_; }

  // Main thread only. Time left until the next delayed task, none when there is none.
  std::optional<Duracao> esperaAteProximo() const;
  // Main thread only. Runs the posted tasks, then the delayed ones that are due, each
  // group in order; tasks posted meanwhile wait for the next call. True when any ran.
  bool executarPendentes();

 private:
  void acordar();

  SubsistemaSdl eventos_{SDL_INIT_EVENTS};
  const std::thread::id dono_ = std::this_thread::get_id();
  Uint32 tipoEvento_;
  std::atomic<bool> acordada_{false};

  mutable std::mutex mutex_;
  std::deque<Tarefa> tarefas_;
  // Main thread only: the tasks being run, in storage kept from one call to the next,
  // so that the steady stream of posts allocates no queue memory each time.
  std::deque<Tarefa> emExecucao_;
  std::vector<Tarefa> vencidas_;
  // Equal deadlines keep their posting order (multimap inserts after equal keys).
  std::multimap<Relogio::time_point, Tarefa> atrasadas_;
};

}  // namespace orbelo
