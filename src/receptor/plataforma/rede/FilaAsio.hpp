#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <thread>

#include "receptor/Executor.hpp"

namespace orbelo {

// The receiver's `fila`: one thread running an io_context. Every connection and
// browser made from it must be gone before it is destroyed.
class FilaAsio final : public Executor {
 public:
  FilaAsio();
  ~FilaAsio() override;
  FilaAsio(const FilaAsio&) = delete;
  FilaAsio& operator=(const FilaAsio&) = delete;

  void executar(Tarefa tarefa) override;
  void executarDepois(Duracao atraso, Tarefa tarefa) override;
  bool atual() const override { return linha.get_id() == std::this_thread::get_id(); }

  // Ends the thread once the tasks posted so far have run, and waits for it; later tasks,
  // delayed ones and pending operations never run. Not from its own thread.
  void parar();

  asio::io_context& contexto() { return contexto_; }

 private:
  asio::io_context contexto_{1};
  asio::executor_work_guard<asio::io_context::executor_type> trabalho;
  std::thread linha;
};

}  // namespace orbelo
