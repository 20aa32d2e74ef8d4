#include "FilaPrincipal.hpp"

namespace orbelo {

FilaPrincipal::FilaPrincipal() : tipoEvento_(SDL_RegisterEvents(1)) {}

void FilaPrincipal::executar(Tarefa tarefa) {
  {
    std::lock_guard trava(mutex_);
    tarefas_.push_back(std::move(tarefa));
  }
  acordar();
}

void FilaPrincipal::executarDepois(Duracao atraso, Tarefa tarefa) {
  {
    std::lock_guard trava(mutex_);
    atrasadas_.emplace(Relogio::now() + atraso, std::move(tarefa));
  }
  // The loop may be asleep with a longer timeout; it must recompute it.
  acordar();
}

void FilaPrincipal::acordar() {
  // One pending wake-up is enough: the loop drains everything when it wakes, and a
  // flood of events could fill SDL's queue and drop input.
  if (acordada_.exchange(true)) return;
  SDL_Event evento{};
  evento.type = tipoEvento_;
  SDL_PushEvent(&evento);
}

std::optional<Fila::Duracao> FilaPrincipal::esperaAteProximo() const {
  std::lock_guard trava(mutex_);
  if (!tarefas_.empty()) return Duracao::zero();
  if (atrasadas_.empty()) return std::nullopt;
  auto resta = atrasadas_.begin()->first - Relogio::now();
  return resta < Duracao::zero() ? Duracao::zero() : resta;
}

bool FilaPrincipal::executarPendentes() {
  acordada_ = false;
  {
    std::lock_guard trava(mutex_);
    emExecucao_.swap(tarefas_);
    auto fim = atrasadas_.upper_bound(Relogio::now());
    for (auto it = atrasadas_.begin(); it != fim; ++it) vencidas_.push_back(std::move(it->second));
    atrasadas_.erase(atrasadas_.begin(), fim);
  }
  for (auto& tarefa : emExecucao_) tarefa();
  for (auto& tarefa : vencidas_) tarefa();
  const bool rodou = !emExecucao_.empty() || !vencidas_.empty();
  emExecucao_.clear();
  vencidas_.clear();
  return rodou;
}

}  // namespace orbelo
