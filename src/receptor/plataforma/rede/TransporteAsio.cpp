#include "TransporteAsio.hpp"

#include <algorithm>

#include "ConexaoTls.hpp"
#include "NavegadorAvahi.hpp"

namespace orbelo {

TransporteAsio::TransporteAsio(FilaAsio& fila, EhCabo ehCabo) : fila(fila), ehCabo(std::move(ehCabo)) {}

std::shared_ptr<Conexao> TransporteAsio::conexao(const std::string& host, std::uint16_t porta,
                                                 const ParametrosTls& parametros) {
  return std::make_shared<ConexaoTls>(fila.contexto(), Destino{host, porta}, parametros, exigido(parametros));
}

std::shared_ptr<Conexao> TransporteAsio::conexao(const ResultadoBusca& resultado,
                                                 const ParametrosTls& parametros) {
  const auto escopo = static_cast<unsigned long>(std::max(resultado.interfaceIndice, 0));
  return std::make_shared<ConexaoTls>(fila.contexto(), Destino{resultado.endereco, resultado.porta, escopo},
                                      parametros, exigido(parametros));
}

std::shared_ptr<Navegador> TransporteAsio::navegador(std::string_view tipoServico,
                                                     const ParametrosTls& parametros) {
  return std::make_shared<NavegadorAvahi>(fila, std::string(tipoServico), exigido(parametros));
}

}  // namespace orbelo
