#include "Negociacao.hpp"

#include <openssl/err.h>
#include <poll.h>

namespace orbelo::emissor {

namespace {

std::string ultimoErroTls() {
  unsigned long erro = ERR_get_error();
  ERR_clear_error();
  if (erro == 0) {
    return "conexão interrompida";
  }
  const char* motivo = ERR_reason_error_string(erro);
  return motivo != nullptr ? motivo : "erro " + std::to_string(erro);
}

}  // namespace

Negociacao::Negociacao(Descritor socket, SSL_CTX* contexto, std::string endereco, std::string origem,
                       Relogio::time_point prazo)
    : socket(std::move(socket)),
      ssl(SSL_new(contexto)),
      endereco_(std::move(endereco)),
      origem_(std::move(origem)),
      prazo_(prazo),
      evento_(POLLIN) {
  SSL_set_fd(ssl.get(), this->socket.get());
  SSL_set_accept_state(ssl.get());
}

Negociacao::Estado Negociacao::avancar(Relogio::time_point agora) {
  if (agora >= prazo_) {
    motivo_ = "negociação não terminou a tempo";
    return Estado::falhou;
  }
  ERR_clear_error();
  const int resultado = SSL_do_handshake(ssl.get());
  if (resultado == 1) {
    return Estado::pronta;
  }
  switch (SSL_get_error(ssl.get(), resultado)) {
    case SSL_ERROR_WANT_READ:
      evento_ = POLLIN;
      return Estado::andamento;
    case SSL_ERROR_WANT_WRITE:
      evento_ = POLLOUT;
      return Estado::andamento;
    default:
      motivo_ = ultimoErroTls();
      return Estado::falhou;
  }
}

std::shared_ptr<CanalTls> Negociacao::conexao() && {
  return std::make_shared<CanalTls>(std::move(socket), std::move(ssl), std::move(endereco_));
}

}  // namespace orbelo::emissor
