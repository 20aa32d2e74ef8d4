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
  if (!endereco.is_v6()) {
    return endereco;
  }
  auto v6 = endereco.to_v6();
  if (v6.is_link_local() && v6.scope_id() == 0) {
    v6.scope_id(escopo);
  }
  return v6;
}

}  // namespace

ConexaoTls::ConexaoTls(asio::io_context& contexto, Destino destino, const ParametrosTls& parametros,
                       EhCabo ehCabo)
    : contexto(contexto),
      destino(std::move(destino)),
      parametrosTls(parametros),
      ehCabo(std::move(ehCabo)),
      tls(contextoConfigurado(parametrosTls, erroContexto)),
      resolvedor(contexto),
      fluxo(contexto, tls) {}

void ConexaoTls::aoMudarEstado(AoMudarEstado tratador) {
  aoMudarEstado_ = std::move(tratador);
}

void ConexaoTls::iniciar() {
  if (erroContexto) {
    asio::post(contexto, [self = shared_from_this()] {
      if (!self->cancelada) {
        self->relatar(EstadoConexao::falhou, self->erroContexto);
      }
    });
    return;
  }
  asio::error_code erro;
  const auto endereco = asio::ip::make_address(destino.host, erro);
  if (!erro) {
    conectar({{comEscopo(endereco, destino.escopo), destino.porta}});
    return;
  }
  resolvedor.async_resolve(destino.host, std::to_string(destino.porta),
                           asio::ip::tcp::resolver::numeric_service,
                           [self = shared_from_this()](const asio::error_code& erro,
                                                       const asio::ip::tcp::resolver::results_type& achados) {
                             if (self->cancelada) {
                               return;
                             }
                             if (erro) {
                               self->relatar(EstadoConexao::falhou, erroRede(erro));
                               return;
                             }
                             std::vector<asio::ip::tcp::endpoint> destinos;
                             for (const auto& achado : achados) {
                               destinos.push_back(achado.endpoint());
                             }
                             self->conectar(std::move(destinos));
                           });
}

void ConexaoTls::conectar(std::vector<asio::ip::tcp::endpoint> destinos) {
  if (ehCabo) {
    std::erase_if(destinos, [this](const asio::ip::tcp::endpoint& destino) {
      const auto interface = placaDaRota(contexto, destino.address());
      return !interface || !ehCabo(*interface);
    });
    // No wired route: the attempt waits, reporting nothing, until the caller gives up on it.
    if (destinos.empty()) {
      return;
    }
  }
  enderecos = std::move(destinos);
  tentar(0);
}

// Each address gets a socket of its own, opened here rather than by the connect so that its
// options hold from the first SYN on, the TCP connect and the handshake included.
void ConexaoTls::tentar(std::size_t indice) {
  auto& soquete = fluxo.lowest_layer();
  asio::error_code erro;
  soquete.close(erro);
  soquete.open(enderecos[indice].protocol(), erro);
  if (erro) {
    // Later, like a failed connect: the caller hears nothing before `iniciar` returns.
    asio::post(contexto, [self = shared_from_this(), indice, erro] {
      if (!self->cancelada) {
        self->seguir(indice, erro);
      }
    });
    return;
  }
  prepararSoquete();
  soquete.async_connect(enderecos[indice], [self = shared_from_this(), indice](const asio::error_code& erro) {
    if (self->cancelada) {
      return;
    }
    if (erro) {
      self->seguir(indice, erro);
      return;
    }
    self->negociar();
  });
}

void ConexaoTls::seguir(std::size_t indice, const asio::error_code& erro) {
  if (indice + 1 < enderecos.size()) {
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
      {IPPROTO_TCP, TCP_NODELAY, parametrosTls.semAtraso ? 1 : 0},
      {SOL_SOCKET, SO_KEEPALIVE, 1},
      {IPPROTO_TCP, TCP_KEEPIDLE, inatividadeAntesDeSondar},
      {IPPROTO_TCP, TCP_KEEPINTVL, intervaloSondas},
      {IPPROTO_TCP, TCP_KEEPCNT, sondasSemResposta},
      {IPPROTO_TCP, TCP_USER_TIMEOUT, limiteSemResposta},
  }};
  // A refused option costs only speed or the early notice of a dead link, never the link itself.
  for (const auto& opcao : opcoes) {
    setsockopt(fluxo.lowest_layer().native_handle(), opcao.nivel, opcao.nome, &opcao.valor,
               sizeof opcao.valor);
  }
}

void ConexaoTls::negociar() {
  fluxo.async_handshake(asio::ssl::stream_base::client,
                        [self = shared_from_this()](const asio::error_code& erro) {
                          if (self->cancelada) {
                            return;
                          }
                          if (erro) {
                            self->relatar(EstadoConexao::falhou, erroRede(erro));
                            return;
                          }
                          self->pronta = true;
                          self->relatar(EstadoConexao::pronta, std::nullopt);
                          if (self->cancelada) {
                            return;
                          }
                          self->ler();
                          self->escrever();
                        });
}

void ConexaoTls::cancelar() {
  if (cancelada) {
    return;
  }
  cancelada = true;
  // Dropping the handlers also drops whatever they hold.
  aoMudarEstado_ = nullptr;
  pedidos.clear();
  saida.clear();
  resolvedor.cancel();
  asio::error_code ignorado;
  fluxo.lowest_layer().close(ignorado);
}

void ConexaoTls::receber(std::size_t minimo, std::size_t maximo, AoReceber completar) {
  if (cancelada) {
    return;
  }
  maximo = std::max<std::size_t>(maximo, 1);
  minimo = std::clamp<std::size_t>(minimo, 1, maximo);
  pedidos.push_back({minimo, maximo, std::move(completar)});
  if (pronta) {
    ler();
  }
}

void ConexaoTls::ler() {
  if (lendo || pedidos.empty()) {
    return;
  }
  lendo = true;
  if (fimVisto) {
    // Receives issued after the end learn how it ended, on a later turn of the loop.
    asio::post(contexto, [self = shared_from_this()] {
      if (!self->cancelada) {
        self->completarPrimeiro({}, *self->fimVisto);
      }
    });
    return;
  }
  const auto& pedido = pedidos.front();
  if (entrada.size() < pedido.maximo) {
    entrada.resize(pedido.maximo);
  }
  asio::async_read(fluxo, asio::buffer(entrada.data(), pedido.maximo), asio::transfer_at_least(pedido.minimo),
                   [self = shared_from_this()](const asio::error_code& erro, std::size_t lidos) {
                     if (self->cancelada) {
                       return;
                     }
                     if (erro) {
                       self->fimVisto = self->comoTerminou(erro);
                     }
                     self->completarPrimeiro(VistaBytes(self->entrada).first(lidos),
                                             self->fimVisto.value_or(Fim{false, std::nullopt}));
                   });
}

ConexaoTls::Fim ConexaoTls::comoTerminou(const asio::error_code& erro) const {
  if (erro == asio::error::eof) {
    return {true, std::nullopt};
  }
  if (erro != asio::ssl::error::stream_truncated) {
    return {false, erroRede(erro)};
  }
  // A link that went dark fails whichever call meets it first; when that was a write, the read
  // that follows finds only a closed socket, which is a loss, not the sender hanging up.
  if (erroEscrita) {
    return {false, erroEscrita};
  }
  return {true, std::nullopt};
}

// The completion reads `dados` in place, so no read into `entrada` starts until it returns:
// a receive it issues waits, `lendo` still set.
void ConexaoTls::completarPrimeiro(VistaBytes dados, const Fim& fim) {
  auto completar = std::move(pedidos.front().completar);
  pedidos.pop_front();
  if (completar) {
    completar(dados, fim.completo, fim.erro);
  }
  lendo = false;
  if (!cancelada) {
    ler();
  }
}

void ConexaoTls::enviar(Bytes mensagem) {
  if (cancelada || erroEscrita) {
    return;
  }
  if (!saida.empty() && bytesNaSaida + mensagem.size() > limiteSaida) {
    return;
  }
  bytesNaSaida += mensagem.size();
  saida.push_back(std::move(mensagem));
  if (pronta) {
    escrever();
  }
}

void ConexaoTls::escrever() {
  if (escrevendo || saida.empty()) {
    return;
  }
  escrevendo = true;
  asio::async_write(fluxo, asio::buffer(saida.front()),
                    [self = shared_from_this()](const asio::error_code& erro, std::size_t) {
                      if (self->cancelada) {
                        return;
                      }
                      self->escrevendo = false;
                      self->bytesNaSaida -= self->saida.front().size();
                      self->saida.pop_front();
                      if (erro) {
                        // The receive side reports the broken link; nothing more is written.
                        self->erroEscrita = erroRede(erro);
                        self->saida.clear();
                        self->bytesNaSaida = 0;
                        return;
                      }
                      self->escrever();
                    });
}

void ConexaoTls::relatar(EstadoConexao estado, const std::optional<ErroRede>& erro) {
  // A copy, since the handler may cancel this connection and so drop its own stored copy.
  const auto tratador = aoMudarEstado_;
  if (tratador) {
    tratador(estado, erro);
  }
}

std::string ConexaoTls::endpoint() const {
  asio::error_code erro;
  const auto remoto = fluxo.lowest_layer().remote_endpoint(erro);
  std::ostringstream texto;
  if (!erro) {
    texto << remoto;
  } else if (destino.host.find(':') != std::string::npos) {
    texto << '[' << destino.host << "]:" << destino.porta;
  } else {
    texto << destino.host << ':' << destino.porta;
  }
  return texto.str();
}

std::optional<std::string> ConexaoTls::nomeInterface() const {
  if (!pronta) {
    return std::nullopt;
  }
  asio::error_code erro;
  const auto local = fluxo.lowest_layer().local_endpoint(erro);
  if (erro) {
    return std::nullopt;
  }
  return placaDoEndereco(local.address());
}

std::optional<std::uint16_t> ConexaoTls::suiteNegociada() const {
  if (!pronta) {
    return std::nullopt;
  }
  // Asio hands the SSL handle out only from a non-const stream; reading the suite changes nothing.
  const SSL_CIPHER* suite = SSL_get_current_cipher(const_cast<ConexaoTls*>(this)->fluxo.native_handle());
  if (suite == nullptr) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(SSL_CIPHER_get_protocol_id(suite));
}

}  // namespace orbelo
