#include "Servidor.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "protocolo/Pareamento.hpp"
#include "protocolo/Saida.hpp"

namespace orbelo::emissor {

namespace {

// A client that stalls its handshake must not hold up the next one for long.
constexpr timeval esperaAperto{5, 0};

struct EnderecoSocket {
  sockaddr_storage dados{};
  socklen_t tamanho = 0;
};

std::optional<EnderecoSocket> montarEndereco(const std::string& texto, std::uint16_t porta) {
  EnderecoSocket endereco;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&endereco.dados);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&endereco.dados);
  if (inet_pton(AF_INET, texto.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(porta);
    endereco.tamanho = sizeof(sockaddr_in);
  } else if (inet_pton(AF_INET6, texto.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(porta);
    endereco.tamanho = sizeof(sockaddr_in6);
  } else {
    return std::nullopt;
  }
  return endereco;
}

std::string descrever(const sockaddr_storage& endereco) {
  char texto[INET6_ADDRSTRLEN] = {};
  if (endereco.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(endereco);
    inet_ntop(AF_INET6, &v6.sin6_addr, texto, sizeof texto);
    std::string descricao(1, '[');
    descricao.append(texto).append("]:").append(std::to_string(ntohs(v6.sin6_port)));
    return descricao;
  }
  const auto& v4 = reinterpret_cast<const sockaddr_in&>(endereco);
  inet_ntop(AF_INET, &v4.sin_addr, texto, sizeof texto);
  return std::string(texto) + ":" + std::to_string(ntohs(v4.sin_port));
}

unsigned int responderPsk(SSL* ssl, const char* identidade, unsigned char* chave, unsigned int maximo) {
  const auto* nossa = static_cast<const Servidor::Chave*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  if (identidade == nullptr || Pareamento::identidade != identidade || maximo < nossa->size()) {
    return 0;
  }
  std::memcpy(chave, nossa->data(), nossa->size());
  return static_cast<unsigned int>(nossa->size());
}

std::string ultimoErroTls() {
  unsigned long erro = ERR_get_error();
  ERR_clear_error();
  if (erro == 0) {
    return "conexão interrompida";
  }
  const char* motivo = ERR_reason_error_string(erro);
  return motivo != nullptr ? motivo : "erro " + std::to_string(erro);
}

ContextoSslPtr criarContexto(Servidor::Chave* chave) {
  ContextoSslPtr contexto(SSL_CTX_new(TLS_server_method()));
  SSL_CTX_set_max_proto_version(contexto.get(), TLS1_2_VERSION);
  std::string lista;
  for (const auto& suite : Pareamento::suites) {
    if (!lista.empty()) lista += ':';
    lista += suite.nomeOpenssl;
  }
  SSL_CTX_set_cipher_list(contexto.get(), lista.c_str());
  SSL_CTX_set_options(contexto.get(), SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_app_data(contexto.get(), chave);
  SSL_CTX_set_psk_server_callback(contexto.get(), responderPsk);
  return contexto;
}

}  // namespace

Servidor::Servidor(Descritor socket, std::string endereco, std::uint16_t porta, const Chave& chave)
    : socket(std::move(socket)),
      endereco(std::move(endereco)),
      porta_(porta),
      chave(chave),
      contexto(criarContexto(&this->chave)) {}

std::variant<std::unique_ptr<Servidor>, std::string> Servidor::abrir(const std::string& endereco,
                                                                     std::uint16_t porta,
                                                                     const Chave& chave) {
  auto local = montarEndereco(endereco, porta);
  if (!local) {
    return "Endereço inválido: " + endereco + ".";
  }
  Descritor socket(::socket(local->dados.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (socket.get() < 0) {
    return "Não foi possível criar o socket: " + std::string(std::strerror(errno)) + ".";
  }
  int sim = 1;
  setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &sim, sizeof sim);
  if (local->dados.ss_family == AF_INET6) {
    setsockopt(socket.get(), IPPROTO_IPV6, IPV6_V6ONLY, &sim, sizeof sim);
  }
  if (bind(socket.get(), reinterpret_cast<sockaddr*>(&local->dados), local->tamanho) < 0) {
    int erro = errno;
    if (erro == EADDRINUSE) {
      return "Porta " + std::to_string(porta) + " em uso em " + endereco + ".";
    }
    return "Não foi possível escutar em " + endereco + ": " + std::strerror(erro) + ".";
  }
  if (listen(socket.get(), SOMAXCONN) < 0) {
    return "Não foi possível escutar em " + endereco + ": " + std::strerror(errno) + ".";
  }
  getsockname(socket.get(), reinterpret_cast<sockaddr*>(&local->dados), &local->tamanho);
  std::uint16_t real = local->dados.ss_family == AF_INET6
                           ? ntohs(reinterpret_cast<sockaddr_in6&>(local->dados).sin6_port)
                           : ntohs(reinterpret_cast<sockaddr_in&>(local->dados).sin_port);
  return std::make_unique<Servidor>(std::move(socket), descrever(local->dados), real, chave);
}

std::string Servidor::enderecoLocal() const {
  return endereco;
}

std::shared_ptr<ConexaoTls> Servidor::aceitar() {
  sockaddr_storage remoto{};
  socklen_t tamanho = sizeof remoto;
  Descritor cliente(accept4(socket.get(), reinterpret_cast<sockaddr*>(&remoto), &tamanho, SOCK_CLOEXEC));
  if (cliente.get() < 0) {
    // Out of descriptors or similar: do not spin while it lasts.
    if (!fechado_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return nullptr;
  }
  std::string endereco = descrever(remoto);
  int sim = 1;
  setsockopt(cliente.get(), IPPROTO_TCP, TCP_NODELAY, &sim, sizeof sim);
  setsockopt(cliente.get(), SOL_SOCKET, SO_RCVTIMEO, &esperaAperto, sizeof esperaAperto);
  setsockopt(cliente.get(), SOL_SOCKET, SO_SNDTIMEO, &esperaAperto, sizeof esperaAperto);

  SslPtr ssl(SSL_new(contexto.get()));
  SSL_set_fd(ssl.get(), cliente.get());
  ERR_clear_error();
  if (SSL_accept(ssl.get()) != 1) {
    imprimirLinha("Falha de TLS com " + endereco + ": " + ultimoErroTls() + ".");
    return nullptr;
  }
  fcntl(cliente.get(), F_SETFL, fcntl(cliente.get(), F_GETFL) | O_NONBLOCK);
  return std::make_shared<ConexaoTls>(std::move(cliente), std::move(ssl), std::move(endereco));
}

void Servidor::fechar() {
  fechado_ = true;
  shutdown(socket.get(), SHUT_RDWR);
}

}  // namespace orbelo::emissor
