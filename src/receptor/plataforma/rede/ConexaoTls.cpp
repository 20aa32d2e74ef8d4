#include "ConexaoTls.hpp"

#include <algorithm>
#include <asio/connect.hpp>
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

bool fimDoFluxo(const asio::error_code& erro) {
  // A close without close_notify ends the stream too: the sender may just drop the link.
  return erro == asio::error::eof || erro == asio::ssl::error::stream_truncated;
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
  asio::async_connect(
      fluxo_.lowest_layer(), destinos,
      [self = shared_from_this()](const asio::error_code& erro, const asio::ip::tcp::endpoint&) {
        if (self->cancelada_) return;
        if (erro) {
          self->relatar(EstadoConexao::falhou, erroRede(erro));
          return;
        }
        asio::error_code ignorado;
        self->fluxo_.lowest_layer().set_option(asio::ip::tcp::no_delay(self->parametros_.semAtraso),
                                               ignorado);
        self->negociar();
      });
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
      if (self->cancelada_) return;
      self->lendo_ = false;
      self->completarPrimeiro({}, *self->fim_);
    });
    return;
  }
  const auto& pedido = pedidos_.front();
  if (entrada_.size() < pedido.maximo) entrada_.resize(pedido.maximo);
  asio::async_read(
      fluxo_, asio::buffer(entrada_.data(), pedido.maximo), asio::transfer_at_least(pedido.minimo),
      [self = shared_from_this()](const asio::error_code& erro, std::size_t lidos) {
        if (self->cancelada_) return;
        self->lendo_ = false;
        if (erro) self->fim_ = fimDoFluxo(erro) ? Fim{true, std::nullopt} : Fim{false, erroRede(erro)};
        Bytes dados(self->entrada_.begin(), self->entrada_.begin() + static_cast<std::ptrdiff_t>(lidos));
        self->completarPrimeiro(std::move(dados), self->fim_.value_or(Fim{false, std::nullopt}));
      });
}

void ConexaoTls::completarPrimeiro(Bytes dados, const Fim& fim) {
  auto completar = std::move(pedidos_.front().completar);
  pedidos_.pop_front();
  if (completar) completar(std::move(dados), fim.completo, fim.erro);
  if (!cancelada_) ler();
}

void ConexaoTls::enviar(Bytes mensagem) {
  if (cancelada_ || escritaFalhou_) return;
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
                        self->escritaFalhou_ = true;
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
