#pragma once

#include <chrono>
#include <functional>

namespace orbelo {

// A serial context: tasks run one at a time, in the order given.
// `fila` (the network thread) and the main thread are both reached through it.
class Executor {
 public:
  using Tarefa = std::function<void()>;
  using Duracao = std::chrono::steady_clock::duration;

  virtual ~Executor() = default;
  virtual void executar(Tarefa tarefa) = 0;
  virtual void executarDepois(Duracao atraso, Tarefa tarefa) = 0;
  // Whether the caller runs on this context: state owned by one thread asserts it.
  virtual bool atual() const = 0;
};

}  // namespace orbelo
