#pragma once

#include <openssl/ssl.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "ConexaoTls.hpp"

namespace orbelo::emissor {

struct LiberarContextoSsl {
  void operator()(SSL_CTX* contexto) const { SSL_CTX_free(contexto); }
};
using ContextoSslPtr = std::unique_ptr<SSL_CTX, LiberarContextoSsl>;

// The listening socket and the TLS 1.2 pre-shared-key server side.
class Servidor {
 public:
  using Chave = std::array<std::uint8_t, 32>;

  // Binds and listens; the error is a line for the user.
  static std::variant<std::unique_ptr<Servidor>, std::string> abrir(const std::string& endereco,
                                                                    std::uint16_t porta, const Chave& chave);

  std::uint16_t porta() const { return porta_; }
  // "127.0.0.1:7420", "[::1]:7420"
  std::string enderecoLocal() const;

  // Waits for the next receiver and runs its handshake; none when the handshake
  // failed (a line says why) or the server was closed.
  std::shared_ptr<ConexaoTls> aceitar();
  // Wakes a thread blocked in `aceitar`.
  void fechar();
  bool fechado() const { return fechado_; }

  // Takes a socket already listening; `abrir` is the way to get one.
  Servidor(Descritor socket, std::string endereco, std::uint16_t porta, const Chave& chave);

 private:
  Descritor socket;
  const std::string endereco;
  std::uint16_t porta_;
  Chave chave;
  ContextoSslPtr contexto;
  std::atomic<bool> fechado_{false};
};

}  // namespace orbelo::emissor
