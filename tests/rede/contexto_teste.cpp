#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <memory>
#include <vector>

#include "protocolo/Pareamento.hpp"
#include "receptor/plataforma/rede/ContextoTls.hpp"

namespace orbelo {
namespace {

using Contexto = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;

// The suites a client made from `contexto` puts in its hello, in order.
std::vector<std::uint16_t> oferecidas(SSL_CTX* contexto) {
  const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(contexto), SSL_free);
  STACK_OF(SSL_CIPHER)* lista = SSL_get1_supported_ciphers(ssl.get());
  std::vector<std::uint16_t> numeros;
  for (int i = 0; i < sk_SSL_CIPHER_num(lista); ++i) {
    numeros.push_back(static_cast<std::uint16_t>(SSL_CIPHER_get_protocol_id(sk_SSL_CIPHER_value(lista, i))));
  }
  sk_SSL_CIPHER_free(lista);
  return numeros;
}

TEST(ConfigurarContexto, OffersExactlyTheThreeSuitesInOrderUpToTls12AtAnySecurityLevelNeverTheDefaults) {
  // The default level, and stricter ones that must not drop any of the suites.
  for (const int nivel : {-1, 3, 4, 5}) {
    const Contexto contexto(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (nivel >= 0) SSL_CTX_set_security_level(contexto.get(), nivel);
    ASSERT_EQ(configurarContexto(contexto.get(), Pareamento::parametros("123456")), std::nullopt);
    EXPECT_THAT(oferecidas(contexto.get()), ::testing::ElementsAre(0xCCAC, 0xC035, 0x00A8)) << nivel;
    EXPECT_EQ(SSL_CTX_get_max_proto_version(contexto.get()), TLS1_2_VERSION);
    EXPECT_EQ(SSL_CTX_get_min_proto_version(contexto.get()), 0);
  }
  // A list with nothing OpenSSL knows fails rather than fall back to its defaults.
  const Contexto contexto(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
  auto parametros = Pareamento::parametros("123456");
  parametros.suites = {0x1301, 0x002F};
  const auto erro = configurarContexto(contexto.get(), parametros);
  ASSERT_TRUE(erro.has_value());
  EXPECT_EQ(erro->tipo, ErroRede::Tipo::tls);
  EXPECT_NE(erro->texto.find("no cipher match"), std::string::npos) << erro->texto;
}

}  // namespace
}  // namespace orbelo
