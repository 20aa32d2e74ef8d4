#include "ContextoTls.hpp"

#include <openssl/err.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace orbelo {
namespace {

// Security levels above 2 drop the suite without forward secrecy (3) and the SHA-1 one (4);
// a stricter system default must not silently narrow what the sender is offered.
constexpr int nivelSegurancaMaximo = 2;

int indiceParametros() {
  static const int indice = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return indice;
}

unsigned int darChave(SSL* ssl, const char* /*dica*/, char* identidade, unsigned int maxIdentidade,
                      unsigned char* chave, unsigned int maxChave) {
  const auto* parametros =
      static_cast<const ParametrosTls*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), indiceParametros()));
  // The identity buffer holds `maxIdentidade` characters plus the terminator.
  if (parametros == nullptr || parametros->identidade.size() > maxIdentidade ||
      parametros->chave.size() > maxChave) {
    return 0;
  }
  std::memcpy(identidade, parametros->identidade.c_str(), parametros->identidade.size() + 1);
  std::memcpy(chave, parametros->chave.data(), parametros->chave.size());
  return static_cast<unsigned int>(parametros->chave.size());
}

std::string listaSuites(const ParametrosTls& parametros) {
  std::string lista;
  for (const auto numero : parametros.suites) {
    const auto suite = std::ranges::find(Pareamento::suites, numero, &Suite::numero);
    if (suite == Pareamento::suites.end()) {
      continue;
    }
    if (!lista.empty()) {
      lista += ':';
    }
    lista += suite->nomeOpenssl;
  }
  return lista;
}

ErroRede erroOpenssl() {
  std::array<char, 256> texto{};
  ERR_error_string_n(ERR_peek_last_error(), texto.data(), texto.size());
  ERR_clear_error();
  return {ErroRede::Tipo::tls, texto.data()};
}

}  // namespace

std::optional<ErroRede> configurarContexto(SSL_CTX* contexto, const ParametrosTls& parametros) {
  SSL_CTX_set_ex_data(contexto, indiceParametros(), const_cast<ParametrosTls*>(&parametros));
  SSL_CTX_set_psk_client_callback(contexto, darChave);
  SSL_CTX_set_verify(contexto, SSL_VERIFY_NONE, nullptr);
  if (SSL_CTX_get_security_level(contexto) > nivelSegurancaMaximo) {
    SSL_CTX_set_security_level(contexto, nivelSegurancaMaximo);
  }
  // The sender speaks TLS 1.2 alone: pinning the floor too keeps a peer from taking the link down to
  // TLS 1.0 or 1.1, which the CBC suite would still allow. Nothing here needs renegotiation, and it
  // would be one more way to start a handshake on a link that is already up.
  SSL_CTX_set_options(contexto, SSL_OP_NO_RENEGOTIATION);
  if (SSL_CTX_set_min_proto_version(contexto, parametros.versaoMaxima) != 1 ||
      SSL_CTX_set_max_proto_version(contexto, parametros.versaoMaxima) != 1) {
    return erroOpenssl();
  }
  // OpenSSL refuses an empty list ("no cipher match") rather than keep its defaults.
  if (SSL_CTX_set_cipher_list(contexto, listaSuites(parametros).c_str()) != 1) {
    return erroOpenssl();
  }
  return std::nullopt;
}

}  // namespace orbelo
