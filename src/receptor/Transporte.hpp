#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocolo/ErroRede.hpp"
#include "protocolo/Pareamento.hpp"
#include "protocolo/Protocolo.hpp"

namespace orbelo {

// Every callback below arrives on the `fila` the transport was built with.

enum class EstadoConexao { preparando, esperando, pronta, falhou, cancelada };

// One DNS-SD result, already resolved.
struct ResultadoBusca {
  std::string nome;
  std::string endereco;  // numeric address
  std::uint16_t porta = 0;
  int interfaceIndice = 0;  // scope for link-local addresses
  std::string interfaceNome;
};

class Conexao {
 public:
  // `erro` accompanies `esperando` and `falhou`.
  using AoMudarEstado = std::function<void(EstadoConexao estado, const std::optional<ErroRede>& erro)>;
  // Bytes (possibly none), whether the peer closed the stream, and an error or none. The
  // bytes are a view of the transport's own buffer, valid until the callback returns.
  using AoReceber = std::function<void(VistaBytes dados, bool completo, const std::optional<ErroRede>& erro)>;

  virtual ~Conexao() = default;
  virtual void aoMudarEstado(AoMudarEstado tratador) = 0;
  virtual void iniciar() = 0;
  // Closes the connection; no callback of it runs afterwards.
  virtual void cancelar() = 0;
  // One receive; may be issued before the connection is ready.
  virtual void receber(std::size_t minimo, std::size_t maximo, AoReceber completar) = 0;
  // Fire and forget; bytes are written in call order.
  virtual void enviar(Bytes mensagem) = 0;

  virtual std::string endpoint() const = 0;                         // "address:port"
  virtual std::optional<std::string> nomeInterface() const = 0;     // none before ready
  virtual std::optional<std::uint16_t> suiteNegociada() const = 0;  // none without TLS
};

class Navegador {
 public:
  // The complete current set of results, in the browser's own order.
  using AoMudarResultados = std::function<void(const std::vector<ResultadoBusca>& resultados)>;
  // The service that browses is not there (no daemon, no system bus); it is waited for.
  using AoFaltarServico = std::function<void()>;

  virtual ~Navegador() = default;
  virtual void aoMudarResultados(AoMudarResultados tratador) = 0;
  virtual void aoFaltarServico(AoFaltarServico tratador) = 0;
  virtual void iniciar() = 0;
  virtual void cancelar() = 0;
};

class Transporte {
 public:
  virtual ~Transporte() = default;
  virtual std::shared_ptr<Conexao> conexao(const std::string& host, std::uint16_t porta,
                                           const ParametrosTls& parametros) = 0;
  virtual std::shared_ptr<Conexao> conexao(const ResultadoBusca& resultado,
                                           const ParametrosTls& parametros) = 0;
  virtual std::shared_ptr<Navegador> navegador(std::string_view tipoServico,
                                               const ParametrosTls& parametros) = 0;
};

}  // namespace orbelo
