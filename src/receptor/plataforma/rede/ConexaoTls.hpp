#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ssl/context.hpp>
#include <asio/ssl/stream.hpp>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PlacasRede.hpp"
#include "receptor/Transporte.hpp"

namespace orbelo {

struct Destino {
  std::string host;  // name or numeric address
  std::uint16_t porta = 0;
  unsigned long escopo = 0;  // interface index, for link-local IPv6 addresses
};

// A TCP connection secured with TLS 1.2 and a pre-shared key. Everything, callbacks
// included, runs on the thread of the io_context it was made with.
class ConexaoTls final : public Conexao, public std::enable_shared_from_this<ConexaoTls> {
 public:
  // `ehCabo` empty: any interface may carry the connection.
  ConexaoTls(asio::io_context& contexto, Destino destino, const ParametrosTls& parametros, EhCabo ehCabo);

  void aoMudarEstado(AoMudarEstado tratador) override;
  void iniciar() override;
  void cancelar() override;
  void receber(std::size_t minimo, std::size_t maximo, AoReceber completar) override;
  void enviar(Bytes mensagem) override;

  std::string endpoint() const override;
  std::optional<std::string> nomeInterface() const override;
  std::optional<std::uint16_t> suiteNegociada() const override;

 private:
  struct Pedido {
    std::size_t minimo;
    std::size_t maximo;
    AoReceber completar;
  };
  struct Fim {
    bool completo;
    std::optional<ErroRede> erro;
  };

  void conectar(std::vector<asio::ip::tcp::endpoint> destinos);
  void tentar(std::size_t indice);
  // After address `indice` failed: the next one, or the failure when none is left.
  void seguir(std::size_t indice, const asio::error_code& erro);
  void prepararSoquete();
  void negociar();
  void ler();
  Fim comoTerminou(const asio::error_code& erro) const;
  void completarPrimeiro(VistaBytes dados, const Fim& fim);
  void escrever();
  void relatar(EstadoConexao estado, const std::optional<ErroRede>& erro);

  // All below only on the io_context's thread.
  asio::io_context& contexto;
  const Destino destino;
  const ParametrosTls parametrosTls;  // the TLS context points here
  const EhCabo ehCabo;
  std::optional<ErroRede> erroContexto;
  asio::ssl::context tls;
  asio::ip::tcp::resolver resolvedor;
  std::vector<asio::ip::tcp::endpoint> enderecos;  // tried in turn until one answers
  asio::ssl::stream<asio::ip::tcp::socket> fluxo;

  AoMudarEstado aoMudarEstado_;
  bool pronta = false;
  bool cancelada = false;

  std::deque<Pedido> pedidos;
  bool lendo = false;
  Bytes entrada;
  std::optional<Fim> fimVisto;  // how the stream ended, for receives issued after that

  std::deque<Bytes> saida;
  std::size_t bytesNaSaida = 0;
  bool escrevendo = false;
  std::optional<ErroRede> erroEscrita;  // once set, nothing more is written
};

}  // namespace orbelo
