#include "ErroAsio.hpp"

#include <asio/error.hpp>
#include <asio/ssl/error.hpp>

namespace orbelo {

ErroRede erroRede(const asio::error_code& erro) {
  auto tipo = ErroRede::Tipo::posix;
  if (erro.category() == asio::error::get_ssl_category()) {
    tipo = ErroRede::Tipo::tls;
  } else if (erro.category() == asio::error::get_netdb_category() ||
             erro.category() == asio::error::get_addrinfo_category()) {
    tipo = ErroRede::Tipo::dns;
  }
  return {tipo, erro.message()};
}

}  // namespace orbelo
