#include "ServidorPsk.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <string>

#include "protocolo/Pareamento.hpp"

namespace orbelo::hostil {
namespace {

// The key of the one code this server accepts, for the PSK callback.
std::array<std::uint8_t, 32> chaveAceita{};

unsigned int entregarChave(SSL*, const char* identidade, unsigned char* chave, unsigned int maximo) {
  if (identidade == nullptr || Pareamento::identidade != identidade || maximo < chaveAceita.size()) {
    return 0;
  }
  std::memcpy(chave, chaveAceita.data(), chaveAceita.size());
  return static_cast<unsigned int>(chaveAceita.size());
}

std::string listaSuites() {
  std::string lista;
  for (const auto& suite : Pareamento::suites) {
    lista.append(lista.empty() ? "" : ":").append(suite.nomeOpenssl);
  }
  return lista;
}

}  // namespace

Descritor::~Descritor() {
  if (fd >= 0) {
    ::close(fd);
  }
}

SessaoPsk::SessaoPsk(Descritor socket, std::unique_ptr<SSL, LiberarSsl> ssl)
    : socket(std::move(socket)), ssl(std::move(ssl)) {}

bool SessaoPsk::enviar(VistaBytes dados) {
  while (!dados.empty()) {
    const int escritos =
        SSL_write(ssl.get(), dados.data(), static_cast<int>(std::min<std::size_t>(dados.size(), 1 << 20)));
    if (escritos <= 0) {
      return false;
    }
    dados = dados.subspan(static_cast<std::size_t>(escritos));
  }
  return true;
}

bool SessaoPsk::enviar(TipoMensagem tipo, VistaBytes payload) {
  return enviar(Protocolo::empacotar(tipo, payload));
}

std::optional<Mensagem> SessaoPsk::receber(std::chrono::milliseconds espera) {
  const auto limite = std::chrono::steady_clock::now() + espera;
  while (recebidas.empty()) {
    if (SSL_pending(ssl.get()) == 0) {
      const auto resta =
          std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now());
      pollfd pronto{socket.get(), POLLIN, 0};
      if (resta.count() <= 0 || ::poll(&pronto, 1, static_cast<int>(resta.count())) <= 0) {
        return std::nullopt;
      }
    }
    std::array<std::uint8_t, 64 * 1024> bloco{};
    const int lidos = SSL_read(ssl.get(), bloco.data(), static_cast<int>(bloco.size()));
    if (lidos <= 0) {
      return std::nullopt;
    }
    for (auto& mensagem : leitor.alimentar(VistaBytes(bloco).first(static_cast<std::size_t>(lidos)))) {
      recebidas.push_back(std::move(mensagem));
    }
  }
  auto primeira = std::move(recebidas.front());
  recebidas.pop_front();
  return primeira;
}

void SessaoPsk::fechar() {
  SSL_shutdown(ssl.get());
  ::shutdown(socket.get(), SHUT_RDWR);
}

ServidorPsk::ServidorPsk(std::uint16_t porta, std::string_view codigo)
    : escuta(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), contexto(SSL_CTX_new(TLS_server_method())) {
  chaveAceita = Pareamento::derivarChave(codigo);
  const int sim = 1;
  sockaddr_in endereco{};
  endereco.sin_family = AF_INET;
  endereco.sin_port = htons(porta);
  endereco.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t tamanho = sizeof endereco;
  if (escuta.get() < 0 || !contexto ||
      ::setsockopt(escuta.get(), SOL_SOCKET, SO_REUSEADDR, &sim, sizeof sim) != 0 ||
      ::bind(escuta.get(), reinterpret_cast<sockaddr*>(&endereco), sizeof endereco) != 0 ||
      ::listen(escuta.get(), 16) != 0 ||
      ::getsockname(escuta.get(), reinterpret_cast<sockaddr*>(&endereco), &tamanho) != 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(porta));
  }
  porta_ = ntohs(endereco.sin_port);
  SSL_CTX_set_min_proto_version(contexto.get(), TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(contexto.get(), TLS1_2_VERSION);
  SSL_CTX_set_cipher_list(contexto.get(), listaSuites().c_str());
  SSL_CTX_set_psk_server_callback(contexto.get(), entregarChave);
}

std::unique_ptr<SessaoPsk> ServidorPsk::aceitar() {
  Descritor socket(::accept4(escuta.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (socket.get() < 0) {
    return nullptr;
  }
  const int sim = 1;
  ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &sim, sizeof sim);
  std::unique_ptr<SSL, LiberarSsl> ssl(SSL_new(contexto.get()));
  if (!ssl || SSL_set_fd(ssl.get(), socket.get()) != 1 || SSL_accept(ssl.get()) != 1) {
    return nullptr;
  }
  return std::make_unique<SessaoPsk>(std::move(socket), std::move(ssl));
}

}  // namespace orbelo::hostil
