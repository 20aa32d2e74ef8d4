#include "ConexaoTls.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <asio/post.hpp>
#include <asio/read.hpp>
#include <asio/ssl/error.hpp>
#include <asio/write.hpp>
#include <sstream>

#include "ContextoTls.hpp"
#include "ErroAsio.hpp"

namespace orbelo {
namespace {

// Outgoing messages waiting for a peer that does not read are capped; beyond this,
// whole messages are dropped (sends are fire-and-forget and framing stays intact).
constexpr std::size_t limiteSaida = std::size_t{16} * 1024 * 1024;

// A sender that vanishes without a FIN or a reset (laptop asleep, cable pulled) must show as a
// broken link within 10 s, while a link that is only quiet stays up: the kernel probes after 2 s
// without incoming data, and gives up 6 s after the last thing heard or, when our own writes go
// unanswered, 6 s after the oldest of them. The display report leaves every 2 s, so 8 s at worst.
constexpr int inatividadeAntesDeSondar = 2;  // s
constexpr int intervaloSondas = 1;           // s
constexpr int sondasSemResposta = 4;
constexpr int limiteSemResposta = 6000;  // ms

asio::ssl::context contextoConfigurado(const ParametrosTls& parametros, std::optional<ErroRede>& erro) {
  asio::ssl::context contexto(asio::ssl::context::tls_client);
  erro = configurarContexto(contexto.native_handle(), parametros);
  return contexto;
}

asio::ip::address comEscopo(asio::ip::address endereco, unsigned long escopo) {
  if (!endereco.is_v6()) return endereco;
  auto v6 = endereco.to_v6();
  if (v6.is_link_local() && v6.scope_id() == 0) v6.scope_id(escopo);
  return v6;
}

}  // namespace

ConexaoTls::ConexaoTls(asio::io_context& contexto, Destino destino, const ParametrosTls& parametros,
                       EhCabo ehCabo)
    : contexto_(contexto),
      destino_(std::move(destino)),
      parametros_(parametros),
      ehCabo_(std::move(ehCabo)),
      tls_(contextoConfigurado(parametros_, erroContexto_)),
      resolvedor_(contexto),
      fluxo_(contexto, tls_) {}

void ConexaoTls::aoMudarEstado(AoMudarEstado tratador) {
  aoMudarEstado_ = std::move(tratador);
}

void ConexaoTls::iniciar() {
  if (erroContexto_) {
    asio::post(contexto_, [self = shared_from_this()] {
      if (!self->cancelada_) self->relatar(EstadoConexao::falhou, self->erroContexto_);
    });
    return;
  }
  asio::error_code erro;
  const auto endereco = asio::ip::make_address(destino_.host, erro);
  if (!erro) {
    conectar({{comEscopo(endereco, destino_.escopo), destino_.porta}});
    return;
  }
  resolvedor_.async_resolve(
      destino_.host, std::to_string(destino_.porta), asio::ip::tcp::resolver::numeric_service,
      [self = shared_from_this()](const asio::error_code& erro,
                                  const asio::ip::tcp::resolver::results_type& achados) {
        if (self->cancelada_) return;
        if (erro) {
          self->relatar(EstadoConexao::falhou, erroRede(erro));
          return;
        }
        std::vector<asio::ip::tcp::endpoint> destinos;
        for (const auto& achado : achados) destinos.push_back(achado.endpoint());
        self->conectar(std::move(destinos));
      });
}

void ConexaoTls::conectar(std::vector<asio::ip::tcp::endpoint> destinos) {
  if (ehCabo_) {
    std::erase_if(destinos, [this](const asio::ip::tcp::endpoint& destino) {
      const auto interface = interfaceDaRota(contexto_, destino.address());
      return !interface || !ehCabo_(*interface);
    });
    // No wired route: the attempt waits, reporting nothing, until the caller gives up on it.
    if (destinos.empty()) return;
  }
  destinos_ = std::move(destinos);
  tentar(0);
}

// Each address gets a socket of its own, opened here rather than by the connect so that its
// options hold from the first SYN on, the TCP connect and the handshake included.
void ConexaoTls::tentar(std::size_t indice) {
  auto& soquete = fluxo_.lowest_layer();
  asio::error_code erro;
  soquete.close(erro);
  soquete.open(destinos_[indice].protocol(), erro);
  if (erro) {
    // Later, like a failed connect: the caller hears nothing before `iniciar` returns.
    asio::post(contexto_, [self = shared_from_this(), indice, erro] {
      if (!self->cancelada_) self->seguir(indice, erro);
    });
    return;
  }
  prepararSoquete();
  soquete.async_connect(destinos_[indice], [self = shared_from_this(), indice](const asio::error_code& erro) {
    if (self->cancelada_) return;
    if (erro) {
      self->seguir(indice, erro);
      return;
    }
    self->negociar();
  });
}

void ConexaoTls::seguir(std::size_t indice, const asio::error_code& erro) {
  if (indice + 1 < destinos_.size()) {
    tentar(indice + 1);
  } else {
    relatar(EstadoConexao::falhou, erroRede(erro));
  }
}

void ConexaoTls::prepararSoquete() {
  struct Opcao {
    int nivel;
    int nome;
    int valor;
  };
  const std::array<Opcao, 6> opcoes{{
      {IPPROTO_TCP, TCP_NODELAY, parametros_.semAtraso ? 1 : 0},
      {SOL_SOCKET, SO_KEEPALIVE, 1},
      {IPPROTO_TCP, TCP_KEEPIDLE, inatividadeAntesDeSondar},
      {IPPROTO_TCP, TCP_KEEPINTVL, intervaloSondas},
      {IPPROTO_TCP, TCP_KEEPCNT, sondasSemResposta},
      {IPPROTO_TCP, TCP_USER_TIMEOUT, limiteSemResposta},
  }};
  // A refused option costs only speed or the early notice of a dead link, never the link itself.
  for (const auto& opcao : opcoes) {
    setsockopt(fluxo_.lowest_layer().native_handle(), opcao.nivel, opcao.nome, &opcao.valor,
               sizeof opcao.valor);
  }
}

void ConexaoTls::negociar() {
  fluxo_.async_handshake(asio::ssl::stream_base::client,
                         [self = shared_from_this()](const asio::error_code& erro) {
                           if (self->cancelada_) return;
                           if (erro) {
                             self->relatar(EstadoConexao::falhou, erroRede(erro));
                             return;
                           }
                           self->pronta_ = true;
                           self->relatar(EstadoConexao::pronta, std::nullopt);
                           if (self->cancelada_) return;
                           self->ler();
                           self->escrever();
                         });
}

void ConexaoTls::cancelar() {
  if (cancelada_) return;
  cancelada_ = true;
  // Dropping the handlers also drops whatever they hold.
  aoMudarEstado_ = nullptr;
  pedidos_.clear();
  saida_.clear();
  resolvedor_.cancel();
  asio::error_code ignorado;
  fluxo_.lowest_layer().close(ignorado);
}

void ConexaoTls::receber(std::size_t minimo, std::size_t maximo, AoReceber completar) {
  if (cancelada_) return;
  maximo = std::max<std::size_t>(maximo, 1);
  minimo = std::clamp<std::size_t>(minimo, 1, maximo);
  pedidos_.push_back({minimo, maximo, std::move(completar)});
  if (pronta_) ler();
}

void ConexaoTls::ler() {
  if (lendo_ || pedidos_.empty()) return;
  lendo_ = true;
  if (fim_) {
    // Receives issued after the end learn how it ended, on a later turn of the loop.
    asio::post(contexto_, [self = shared_from_this()] {
      if (!self->cancelada_) self->completarPrimeiro({}, *self->fim_);
    });
    return;
  }
  const auto& pedido = pedidos_.front();
  if (entrada_.size() < pedido.maximo) entrada_.resize(pedido.maximo);
  asio::async_read(fluxo_, asio::buffer(entrada_.data(), pedido.maximo),
                   asio::transfer_at_least(pedido.minimo),
                   [self = shared_from_this()](const asio::error_code& erro, std::size_t lidos) {
                     if (self->cancelada_) return;
                     if (erro) self->fim_ = self->comoTerminou(erro);
                     self->completarPrimeiro(VistaBytes(self->entrada_).first(lidos),
                                             self->fim_.value_or(Fim{false, std::nullopt}));
                   });
}

ConexaoTls::Fim ConexaoTls::comoTerminou(const asio::error_code& erro) const {
  if (erro == asio::error::eof) return {true, std::nullopt};
  if (erro != asio::ssl::error::stream_truncated) return {false, erroRede(erro)};
  // A link that went dark fails whichever call meets it first; when that was a write, the read
  // that follows finds only a closed socket, which is a loss, not the sender hanging up.
  if (erroEscrita_) return {false, erroEscrita_};
  return {true, std::nullopt};
}

// The completion reads `dados` in place, so no read into `entrada_` starts until it returns:
// a receive it issues waits, `lendo_` still set.
void ConexaoTls::completarPrimeiro(VistaBytes dados, const Fim& fim) {
  auto completar = std::move(pedidos_.front().completar);
  pedidos_.pop_front();
  if (completar) completar(dados, fim.completo, fim.erro);
  lendo_ = false;
  if (!cancelada_) ler();
}

void ConexaoTls::enviar(Bytes mensagem) {
  if (cancelada_ || erroEscrita_) return;
  if (!saida_.empty() && bytesNaSaida_ + mensagem.size() > limiteSaida) return;
  bytesNaSaida_ += mensagem.size();
  saida_.push_back(std::move(mensagem));
  if (pronta_) escrever();
}

void ConexaoTls::escrever() {
  if (escrevendo_ || saida_.empty()) return;
  escrevendo_ = true;
  asio::async_write(fluxo_, asio::buffer(saida_.front()),
                    [self = shared_from_this()](const asio::error_code& erro, std::size_t) {
                      if (self->cancelada_) return;
                      self->escrevendo_ = false;
                      self->bytesNaSaida_ -= self->saida_.front().size();
                      self->saida_.pop_front();
                      if (erro) {
                        // The receive side reports the broken link; nothing more is written.
                        self->erroEscrita_ = erroRede(erro);
                        self->saida_.clear();
                        self->bytesNaSaida_ = 0;
                        return;
                      }
                      self->escrever();
                    });
}

void ConexaoTls::relatar(EstadoConexao estado, const std::optional<ErroRede>& erro) {
  // A copy, since the handler may cancel this connection and so drop its own stored copy.
  const auto tratador = aoMudarEstado_;
  if (tratador) tratador(estado, erro);
}

std::string ConexaoTls::endpoint() const {
  asio::error_code erro;
  const auto remoto = fluxo_.lowest_layer().remote_endpoint(erro);
  std::ostringstream texto;
  if (!erro) {
    texto << remoto;
  } else if (destino_.host.find(':') != std::string::npos) {
    texto << '[' << destino_.host << "]:" << destino_.porta;
  } else {
    texto << destino_.host << ':' << destino_.porta;
  }
  return texto.str();
}

std::optional<std::string> ConexaoTls::nomeInterface() const {
  if (!pronta_) return std::nullopt;
  asio::error_code erro;
  const auto local = fluxo_.lowest_layer().local_endpoint(erro);
  if (erro) return std::nullopt;
  return interfaceDoEndereco(local.address());
}

std::optional<std::uint16_t> ConexaoTls::suiteNegociada() const {
  if (!pronta_) return std::nullopt;
  // Asio hands the SSL handle out only from a non-const stream; reading the suite changes nothing.
  const SSL_CIPHER* suite = SSL_get_current_cipher(const_cast<ConexaoTls*>(this)->fluxo_.native_handle());
  if (suite == nullptr) return std::nullopt;
  return static_cast<std::uint16_t>(SSL_CIPHER_get_protocol_id(suite));
}

}  // namespace orbelo
