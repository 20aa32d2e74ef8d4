#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "protocolo/LeitorMensagens.hpp"

namespace orbelo::hostil {

struct LiberarSsl {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct LiberarContexto {
  void operator()(SSL_CTX* contexto) const { SSL_CTX_free(contexto); }
};

class Descritor {
 public:
  explicit Descritor(int fd = -1) : fd(fd) {}
  Descritor(Descritor&& outro) noexcept : fd(std::exchange(outro.fd, -1)) {}
  Descritor& operator=(Descritor&&) = delete;
  Descritor(const Descritor&) = delete;
  ~Descritor();
  int get() const { return fd; }

 private:
  int fd;
};

// One accepted connection after the handshake; blocking, used from one thread.
class SessaoPsk {
 public:
  SessaoPsk(Descritor socket, std::unique_ptr<SSL, LiberarSsl> ssl);

  // The whole buffer, or false when the receiver is gone.
  bool enviar(VistaBytes dados);
  bool enviar(TipoMensagem tipo, VistaBytes payload = {});
  // The next complete message from the receiver; none on timeout or at the end of the stream.
  std::optional<Mensagem> receber(std::chrono::milliseconds espera);
  // close_notify, then the socket: the receiver sees the sender end the stream.
  void fechar();

 private:
  Descritor socket;
  std::unique_ptr<SSL, LiberarSsl> ssl;
  LeitorMensagens leitor;
  std::deque<Mensagem> recebidas;
};

// A TLS 1.2 server on 127.0.0.1 that accepts only the pre-shared key of `codigo`.
class ServidorPsk {
 public:
  // Port 0 takes any free one. Throws std::runtime_error when it cannot listen.
  ServidorPsk(std::uint16_t porta, std::string_view codigo);

  std::uint16_t porta() const { return porta_; }
  // Waits for the next receiver; null when its handshake fails.
  std::unique_ptr<SessaoPsk> aceitar();

 private:
  Descritor escuta;
  std::uint16_t porta_ = 0;
  std::unique_ptr<SSL_CTX, LiberarContexto> contexto;
};

}  // namespace orbelo::hostil
