#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <memory>
#include <string>

#include "CanalTls.hpp"

namespace orbelo::emissor {

// One receiver's TLS handshake on a non-blocking socket, moved on whenever its socket is
// ready, so that a slow peer holds up no one else, and given up at its deadline.
class Negociacao {
 public:
  using Relogio = std::chrono::steady_clock;
  enum class Estado { andamento, pronta, falhou };

  // `origem` is the peer's address without the port.
  Negociacao(Descritor socket, SSL_CTX* contexto, std::string endereco, std::string origem,
             Relogio::time_point prazo);

  // Goes as far as the socket allows; past the deadline it fails.
  Estado avancar(Relogio::time_point agora);
  // Why it failed.
  const std::string& motivo() const { return motivo_; }
  // The stream, once ready.
  std::shared_ptr<CanalTls> conexao() &&;

  int descritor() const { return socket.get(); }
  // What the handshake waits for on the socket: POLLIN or POLLOUT.
  short evento() const { return evento_; }
  Relogio::time_point prazo() const { return prazo_; }
  const std::string& endereco() const { return endereco_; }
  const std::string& origem() const { return origem_; }

 private:
  Descritor socket;
  SslPtr ssl;
  std::string endereco_;
  std::string origem_;
  Relogio::time_point prazo_;
  short evento_;
  std::string motivo_;
};

}  // namespace orbelo::emissor
