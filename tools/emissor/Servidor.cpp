#include "Servidor.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "protocolo/Pareamento.hpp"
#include "protocolo/Saida.hpp"

namespace orbelo::emissor {

namespace {

using Relogio = Negociacao::Relogio;

// From the connection to a ready stream: a real handshake takes milliseconds, and a peer
// that trickles bytes must not keep its place for longer.
constexpr std::chrono::seconds prazoNegociacao{5};
// Handshakes under way at once, in all and from one address: stuck peers take few places
// and a receiver still finds one.
constexpr std::size_t negociacoesMaximas = 16;
constexpr std::size_t negociacoesPorEndereco = 2;

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

// "127.0.0.1", "::1"
std::string descreverHost(const sockaddr_storage& endereco) {
  char texto[INET6_ADDRSTRLEN] = {};
  if (endereco.ss_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(endereco).sin6_addr, texto, sizeof texto);
  } else {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(endereco).sin_addr, texto, sizeof texto);
  }
  return texto;
}

// "127.0.0.1:7420", "[::1]:7420"
std::string descrever(const sockaddr_storage& endereco) {
  const bool v6 = endereco.ss_family == AF_INET6;
  const auto porta = v6 ? reinterpret_cast<const sockaddr_in6&>(endereco).sin6_port
                        : reinterpret_cast<const sockaddr_in&>(endereco).sin_port;
  // Appended piece by piece: GCC 12 at -O2 mistakes `"[" + std::string` for an overlapping copy.
  std::string texto = v6 ? "[" : "";
  texto += descreverHost(endereco);
  texto += v6 ? "]:" : ":";
  texto += std::to_string(ntohs(porta));
  return texto;
}

unsigned int responderPsk(SSL* ssl, const char* identidade, unsigned char* chave, unsigned int maximo) {
  const auto* nossa = static_cast<const Servidor::Chave*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  if (identidade == nullptr || Pareamento::identidade != identidade || maximo < nossa->size()) {
    return 0;
  }
  std::memcpy(chave, nossa->data(), nossa->size());
  return static_cast<unsigned int>(nossa->size());
}

ContextoSslPtr criarContexto(Servidor::Chave* chave) {
  ContextoSslPtr contexto(SSL_CTX_new(TLS_server_method()));
  SSL_CTX_set_max_proto_version(contexto.get(), TLS1_2_VERSION);
  std::string lista;
  for (const auto& suite : Pareamento::suites) {
    if (!lista.empty()) {
      lista += ':';
    }
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

std::shared_ptr<CanalTls> Servidor::aceitar() {
  while (!fechado_) {
    std::vector<pollfd> esperas{{socket.get(), POLLIN, 0}};
    auto prazo = Relogio::time_point::max();
    for (const auto& negociacao : negociacoes) {
      esperas.push_back({negociacao.descritor(), negociacao.evento(), 0});
      prazo = std::min(prazo, negociacao.prazo());
    }
    int espera = -1;
    if (!negociacoes.empty()) {
      espera = static_cast<int>(
          std::chrono::ceil<std::chrono::milliseconds>(std::max(prazo - Relogio::now(), Relogio::duration{}))
              .count());
    }
    poll(esperas.data(), esperas.size(), espera);
    const auto agora = Relogio::now();
    for (std::size_t i = 0; i < negociacoes.size(); ++i) {
      if (esperas[i + 1].revents == 0 && agora < negociacoes[i].prazo()) {
        continue;
      }
      const auto estado = negociacoes[i].avancar(agora);
      if (estado == Negociacao::Estado::andamento) {
        continue;
      }
      auto negociacao = std::move(negociacoes[i]);
      negociacoes.erase(negociacoes.begin() + static_cast<std::ptrdiff_t>(i));
      // The others' events are still pending and come back on the next call.
      return concluir(std::move(negociacao), estado, agora);
    }
    if (esperas[0].revents != 0) {
      receberNova(agora);
    }
  }
  return nullptr;
}

void Servidor::receberNova(Relogio::time_point agora) {
  sockaddr_storage remoto{};
  socklen_t tamanho = sizeof remoto;
  Descritor cliente(
      accept4(socket.get(), reinterpret_cast<sockaddr*>(&remoto), &tamanho, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (cliente.get() < 0) {
    // Out of descriptors or similar: do not spin while it lasts.
    if (!fechado_ && errno != EAGAIN && errno != EINTR && errno != ECONNABORTED) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return;
  }
  auto origem = descreverHost(remoto);
  const auto mesmaOrigem = std::ranges::count(negociacoes, origem, &Negociacao::origem);
  // Refused ones are closed unread, with no line: a flood must not flood the output too.
  if (negociacoes.size() >= negociacoesMaximas ||
      static_cast<std::size_t>(mesmaOrigem) >= negociacoesPorEndereco ||
      !tentativas.liberado(origem, agora)) {
    return;
  }
  int sim = 1;
  setsockopt(cliente.get(), IPPROTO_TCP, TCP_NODELAY, &sim, sizeof sim);
  negociacoes.emplace_back(std::move(cliente), contexto.get(), descrever(remoto), std::move(origem),
                           agora + prazoNegociacao);
}

std::shared_ptr<CanalTls> Servidor::concluir(Negociacao negociacao, Negociacao::Estado estado,
                                             Relogio::time_point agora) {
  if (estado == Negociacao::Estado::pronta) {
    tentativas.registrarSucesso(negociacao.origem());
    return std::move(negociacao).conexao();
  }
  imprimirLinha("Falha de TLS com " + negociacao.endereco() + ": " + negociacao.motivo() + ".");
  if (auto bloqueio = tentativas.registrarFalha(negociacao.origem(), agora)) {
    imprimirLinha("Falhas demais de " + negociacao.origem() + ": conexões recusadas por " +
                  std::to_string(bloqueio->count()) + " s.");
  }
  return nullptr;
}

void Servidor::fechar() {
  fechado_ = true;
  shutdown(socket.get(), SHUT_RDWR);
}

}  // namespace orbelo::emissor
