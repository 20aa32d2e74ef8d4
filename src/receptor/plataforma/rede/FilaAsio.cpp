#include "FilaAsio.hpp"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <memory>

namespace orbelo {

FilaAsio::FilaAsio() : trabalho(asio::make_work_guard(contexto_)), linha([this] { contexto_.run(); }) {}

FilaAsio::~FilaAsio() {
  // Tasks still queued are dropped, not run: what they would act on is going away.
  contexto_.stop();
  if (linha.joinable()) {
    linha.join();
  }
}

void FilaAsio::parar() {
  if (!linha.joinable()) {
    return;
  }
  asio::post(contexto_, [this] { contexto_.stop(); });
  linha.join();
}

void FilaAsio::executar(Tarefa tarefa) {
  asio::post(contexto_, std::move(tarefa));
}

void FilaAsio::executarDepois(Duracao atraso, Tarefa tarefa) {
  auto relogio = std::make_shared<asio::steady_timer>(contexto_, atraso);
  relogio->async_wait([relogio, tarefa = std::move(tarefa)](const asio::error_code& erro) {
    if (!erro) {
      tarefa();
    }
  });
}

}  // namespace orbelo
