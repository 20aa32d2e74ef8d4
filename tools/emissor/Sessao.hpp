#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "CanalTls.hpp"
#include "protocolo/LeitorMensagens.hpp"

namespace orbelo::emissor {

// One connected receiver as the sending loop sees it.
struct Cliente {
  explicit Cliente(std::shared_ptr<CanalTls> conexao) : conexao(std::move(conexao)) {}

  const std::shared_ptr<CanalTls> conexao;
  std::atomic<bool> keyframePedido{false};
};

// The one receiver being served. A new receiver replaces the current one; each
// receiver's messages are read on a thread of its own.
class Sessao {
 public:
  Sessao() = default;
  Sessao(const Sessao&) = delete;
  Sessao& operator=(const Sessao&) = delete;
  ~Sessao();

  // From the accepting thread: closes the current receiver and serves this one.
  void substituir(std::shared_ptr<CanalTls> conexao);

  // Blocks until a receiver other than `anterior` is being served.
  std::shared_ptr<Cliente> esperarCliente(const std::shared_ptr<Cliente>& anterior);
  // Sleeps until `ate`; false, at once, when `cliente` stops being the one served.
  bool esperar(const Cliente& cliente, std::chrono::steady_clock::time_point ate);

 private:
  void ler(const std::shared_ptr<Cliente>& cliente);
  void tratar(Cliente& cliente, const Mensagem& mensagem);
  void esquecer(const Cliente& cliente);

  std::mutex mutex;
  std::condition_variable mudou;
  // Guarded by `mutex`.
  std::shared_ptr<Cliente> atual;
  std::jthread leitor;
};

}  // namespace orbelo::emissor
