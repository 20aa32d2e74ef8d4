#include "CanalTls.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "protocolo/Pareamento.hpp"

namespace orbelo::emissor {

namespace {

// A receiver that takes nothing for this long is treated as gone.
constexpr int esperaEnvioMs = 5000;
constexpr std::size_t tamanhoLeitura = std::size_t{64} * 1024;

}  // namespace

Descritor& Descritor::operator=(Descritor&& outro) noexcept {
  if (this != &outro) {
    if (fd >= 0) {
      close(fd);
    }
    fd = std::exchange(outro.fd, -1);
  }
  return *this;
}

Descritor::~Descritor() {
  if (fd >= 0) {
    close(fd);
  }
}

CanalTls::CanalTls(Descritor socket, SslPtr ssl, std::string endereco)
    : socket(std::move(socket)), ssl(std::move(ssl)), endereco_(std::move(endereco)) {}

std::string CanalTls::suite() const {
  std::lock_guard trava(mutex);
  const SSL_CIPHER* cifra = SSL_get_current_cipher(ssl.get());
  std::optional<std::uint16_t> numero;
  if (cifra != nullptr) {
    numero = static_cast<std::uint16_t>(SSL_CIPHER_get_protocol_id(cifra));
  }
  return Pareamento::suiteNegociada(numero);
}

bool CanalTls::enviar(VistaBytes dados) {
  std::lock_guard trava(mutex);
  if (fechada || dados.empty()) {
    return !fechada;
  }
  if (escreverTudo(dados)) {
    return true;
  }
  // A broken or stalled link is closed here, so that its reader ends and the receiver is let go.
  fechada = true;
  shutdown(socket.get(), SHUT_RDWR);
  return false;
}

bool CanalTls::escreverTudo(VistaBytes dados) {
  while (true) {
    int escritos = SSL_write(ssl.get(), dados.data(), static_cast<int>(dados.size()));
    if (escritos > 0) {
      return true;
    }
    short evento = 0;
    switch (SSL_get_error(ssl.get(), escritos)) {
      case SSL_ERROR_WANT_WRITE:
        evento = POLLOUT;
        break;
      case SSL_ERROR_WANT_READ:
        evento = POLLIN;
        break;
      default:
        return false;
    }
    pollfd espera{socket.get(), evento, 0};
    if (poll(&espera, 1, esperaEnvioMs) <= 0) {
      return false;
    }
  }
}

CanalTls::Recebido CanalTls::receber(std::chrono::milliseconds espera) {
  pollfd pronto{socket.get(), POLLIN, 0};
  if (poll(&pronto, 1, static_cast<int>(espera.count())) == 0) {
    return {{}, fechada};
  }
  std::lock_guard trava(mutex);
  Recebido recebido;
  if (fechada) {
    recebido.acabou = true;
    return recebido;
  }
  // Drain everything OpenSSL can give now, including records it has already buffered.
  while (true) {
    std::size_t antes = recebido.dados.size();
    recebido.dados.resize(antes + tamanhoLeitura);
    int lidos = SSL_read(ssl.get(), recebido.dados.data() + antes, static_cast<int>(tamanhoLeitura));
    recebido.dados.resize(antes + static_cast<std::size_t>(std::max(lidos, 0)));
    if (lidos > 0) {
      continue;
    }
    int erro = SSL_get_error(ssl.get(), lidos);
    recebido.acabou = erro != SSL_ERROR_WANT_READ && erro != SSL_ERROR_WANT_WRITE;
    return recebido;
  }
}

void CanalTls::fecharLimpo() {
  std::lock_guard trava(mutex);
  if (fechada.exchange(true)) {
    return;
  }
  SSL_shutdown(ssl.get());
  shutdown(socket.get(), SHUT_RDWR);
}

bool CanalTls::escreverCru(VistaBytes dados) {
  std::lock_guard trava(mutex);
  while (!fechada && !dados.empty()) {
    const ssize_t escritos = send(socket.get(), dados.data(), dados.size(), MSG_NOSIGNAL);
    pollfd espera{socket.get(), POLLOUT, 0};
    if (escritos > 0) {
      dados = dados.subspan(static_cast<std::size_t>(escritos));
    } else if (errno != EAGAIN || poll(&espera, 1, esperaEnvioMs) <= 0) {
      return false;
    }
  }
  return dados.empty();
}

}  // namespace orbelo::emissor
