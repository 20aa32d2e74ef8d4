#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "protocolo/Protocolo.hpp"

namespace orbelo::emissor {

struct LiberarSsl {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using SslPtr = std::unique_ptr<SSL, LiberarSsl>;

// A socket descriptor closed with its owner.
class Descritor {
 public:
  explicit Descritor(int fd = -1) : fd(fd) {}
  Descritor(Descritor&& outro) noexcept : fd(std::exchange(outro.fd, -1)) {}
  Descritor& operator=(Descritor&& outro) noexcept;
  Descritor(const Descritor&) = delete;
  Descritor& operator=(const Descritor&) = delete;
  ~Descritor();
  int get() const { return fd; }

 private:
  int fd;
};

// One receiver's TLS stream after the handshake. Sending and receiving may run on
// different threads: OpenSSL forbids concurrent use of one SSL, so every call on
// it holds `mutex`, and the socket is non-blocking so that no call holds it for long.
class CanalTls {
 public:
  CanalTls(Descritor socket, SslPtr ssl, std::string endereco);

  const std::string& endereco() const { return endereco_; }
  // Printed name of the negotiated cipher suite.
  std::string suite() const;

  // Writes the whole buffer; false when the link is broken or stalled too long.
  bool enviar(VistaBytes dados);

  struct Recebido {
    Bytes dados;
    bool acabou = false;  // end of stream, error or closed by us
  };
  // Waits up to `espera` for bytes.
  Recebido receber(std::chrono::milliseconds espera);

  // close_notify, then FIN: the receiver sees a clean end of stream.
  void fecharLimpo();
  // `dados` straight onto the socket, past TLS; false when they did not all go.
  bool escreverCru(VistaBytes dados);

 private:
  // With `mutex` held.
  bool escreverTudo(VistaBytes dados);

  mutable std::mutex mutex;
  Descritor socket;
  SslPtr ssl;
  const std::string endereco_;
  std::atomic<bool> fechada{false};
};

}  // namespace orbelo::emissor
