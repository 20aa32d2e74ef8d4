#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "FilaAsio.hpp"
#include "PlacasRede.hpp"
#include "receptor/Transporte.hpp"

namespace orbelo {

// TLS-PSK connections over TCP and DNS-SD browsing through avahi-daemon. Every callback
// of what it makes runs on `fila`, which must outlive all of it.
class TransporteAsio final : public Transporte {
 public:
  // `ehCabo` tells wired interfaces apart, for attempts that require one.
  explicit TransporteAsio(
      FilaAsio& fila, EhCabo ehCabo = [](const std::string& nome) { return placaCabeada(nome); });

  std::shared_ptr<Conexao> conexao(const std::string& host, std::uint16_t porta,
                                   const ParametrosTls& parametros) override;
  std::shared_ptr<Conexao> conexao(const ResultadoBusca& resultado, const ParametrosTls& parametros) override;
  std::shared_ptr<Navegador> navegador(std::string_view tipoServico,
                                       const ParametrosTls& parametros) override;

 private:
  EhCabo exigido(const ParametrosTls& parametros) const { return parametros.exigirCabo ? ehCabo : EhCabo{}; }

  FilaAsio& fila;
  const EhCabo ehCabo;
};

}  // namespace orbelo
