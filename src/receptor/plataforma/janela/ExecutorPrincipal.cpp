#include "ExecutorPrincipal.hpp"

namespace orbelo {

ExecutorPrincipal::ExecutorPrincipal() : tipoEvento_(SDL_RegisterEvents(1)) {}

void ExecutorPrincipal::executar(Tarefa tarefa) {
  {
    std::lock_guard trava(travaTarefas);
    tarefas.push_back(std::move(tarefa));
  }
  acordar();
}

void ExecutorPrincipal::executarDepois(Duracao atraso, Tarefa tarefa) {
  {
    std::lock_guard trava(travaTarefas);
    atrasadas.emplace(Relogio::now() + atraso, std::move(tarefa));
  }
  // The loop may be asleep with a longer timeout; it must recompute it.
  acordar();
}

void ExecutorPrincipal::acordar() {
  // One pending wake-up is enough: the loop drains everything when it wakes, and a
  // flood of events could fill SDL's queue and drop input.
  if (acordada.exchange(true)) {
    return;
  }
  SDL_Event evento{};
  evento.type = tipoEvento_;
  SDL_PushEvent(&evento);
}

std::optional<Executor::Duracao> ExecutorPrincipal::esperaAteProximo() const {
  std::lock_guard trava(travaTarefas);
  if (!tarefas.empty()) {
    return Duracao::zero();
  }
  if (atrasadas.empty()) {
    return std::nullopt;
  }
  auto resta = atrasadas.begin()->first - Relogio::now();
  return resta < Duracao::zero() ? Duracao::zero() : resta;
}

bool ExecutorPrincipal::executarPendentes() {
  acordada = false;
  {
    std::lock_guard trava(travaTarefas);
    emExecucao.swap(tarefas);
    auto fim = atrasadas.upper_bound(Relogio::now());
    for (auto it = atrasadas.begin(); it != fim; ++it) {
      vencidas.push_back(std::move(it->second));
    }
    atrasadas.erase(atrasadas.begin(), fim);
  }
  for (auto& tarefa : emExecucao) {
    tarefa();
  }
  for (auto& tarefa : vencidas) {
    tarefa();
  }
  const bool rodou = !emExecucao.empty() || !vencidas.empty();
  emExecucao.clear();
  vencidas.clear();
  return rodou;
}

}  // namespace orbelo
