#pragma once

#include <openssl/ssl.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "CanalTls.hpp"
#include "Negociacao.hpp"
#include "Tentativas.hpp"

namespace orbelo::emissor {

struct LiberarContextoSsl {
  void operator()(SSL_CTX* contexto) const { SSL_CTX_free(contexto); }
};
using ContextoSslPtr = std::unique_ptr<SSL_CTX, LiberarContextoSsl>;

// The listening socket and the TLS 1.2 pre-shared-key server side. Several handshakes go on
// at once, each with a deadline, and an address that fails too often is refused for a while.
class Servidor {
 public:
  using Chave = std::array<std::uint8_t, 32>;

  // Binds and listens; the error is a line for the user.
  static std::variant<std::unique_ptr<Servidor>, std::string> abrir(const std::string& endereco,
                                                                    std::uint16_t porta, const Chave& chave);

  std::uint16_t porta() const { return porta_; }
  // "127.0.0.1:7420", "[::1]:7420"
  std::string enderecoLocal() const;

  // Waits until a receiver's handshake ends; none when a handshake failed (a line says
  // why) or the server was closed. Only one thread calls it.
  std::shared_ptr<CanalTls> aceitar();
  // Wakes a thread blocked in `aceitar`.
  void fechar();
  bool fechado() const { return fechado_; }

  // Takes a socket already listening; `abrir` is the way to get one.
  Servidor(Descritor socket, std::string endereco, std::uint16_t porta, const Chave& chave);

 private:
  // A new connection starts a handshake unless its address is held back or too many are under way.
  void receberNova(Negociacao::Relogio::time_point agora);
  // The stream of a finished handshake; none, with a line, for a failed one.
  std::shared_ptr<CanalTls> concluir(Negociacao negociacao, Negociacao::Estado estado,
                                     Negociacao::Relogio::time_point agora);

  Descritor socket;
  const std::string endereco;
  std::uint16_t porta_;
  Chave chave;
  ContextoSslPtr contexto;
  std::atomic<bool> fechado_{false};
  // Only on the thread that calls `aceitar`.
  std::vector<Negociacao> negociacoes;
  Tentativas tentativas;
};

}  // namespace orbelo::emissor
