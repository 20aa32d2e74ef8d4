#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <memory>
#include <vector>

#include "Pares.hpp"
#include "receptor/plataforma/rede/ContextoTls.hpp"

namespace orbelo {
namespace {

using ::testing::ElementsAre;

struct LiberarContexto {
  void operator()(SSL_CTX* contexto) const { SSL_CTX_free(contexto); }
};
struct LiberarSsl {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// The suites a client made from `contexto` puts in its hello, in order.
std::vector<std::uint16_t> oferecidas(SSL_CTX* contexto) {
  const std::unique_ptr<SSL, LiberarSsl> ssl(SSL_new(contexto));
  STACK_OF(SSL_CIPHER)* lista = SSL_get1_supported_ciphers(ssl.get());
  std::vector<std::uint16_t> numeros;
  numeros.reserve(static_cast<std::size_t>(sk_SSL_CIPHER_num(lista)));
  for (int i = 0; i < sk_SSL_CIPHER_num(lista); ++i) {
    numeros.push_back(static_cast<std::uint16_t>(SSL_CIPHER_get_protocol_id(sk_SSL_CIPHER_value(lista, i))));
  }
  sk_SSL_CIPHER_free(lista);
  return numeros;
}

TEST(ConfigurarContexto, OffersExactlyTheThreeSuitesInOrderAndNothingAboveTls12) {
  const std::unique_ptr<SSL_CTX, LiberarContexto> contexto(SSL_CTX_new(TLS_client_method()));
  const auto parametros = teste::parametrosCom(teste::chaveAleatoria());
  ASSERT_EQ(configurarContexto(contexto.get(), parametros), std::nullopt);
  EXPECT_THAT(oferecidas(contexto.get()), ElementsAre(0xCCAC, 0xC035, 0x00A8));
  EXPECT_EQ(SSL_CTX_get_max_proto_version(contexto.get()), TLS1_2_VERSION);
  EXPECT_EQ(SSL_CTX_get_min_proto_version(contexto.get()), 0);
}

TEST(ConfigurarContexto, AStricterSecurityLevelDoesNotDropAnyOfTheSuites) {
  for (const int nivel : {3, 4, 5}) {
    const std::unique_ptr<SSL_CTX, LiberarContexto> contexto(SSL_CTX_new(TLS_client_method()));
    SSL_CTX_set_security_level(contexto.get(), nivel);
    ASSERT_EQ(configurarContexto(contexto.get(), teste::parametrosCom(teste::chaveAleatoria())),
              std::nullopt);
    EXPECT_THAT(oferecidas(contexto.get()), ElementsAre(0xCCAC, 0xC035, 0x00A8)) << "level " << nivel;
  }
}

TEST(ConfigurarContexto, ASuiteListWithNothingKnownFailsRatherThanFallBackToDefaults) {
  const std::unique_ptr<SSL_CTX, LiberarContexto> contexto(SSL_CTX_new(TLS_client_method()));
  auto parametros = teste::parametrosCom(teste::chaveAleatoria());
  parametros.suites = {0x1301, 0x002F};
  const auto erro = configurarContexto(contexto.get(), parametros);
  ASSERT_TRUE(erro.has_value());
  EXPECT_EQ(erro->tipo, ErroRede::Tipo::tls);
  EXPECT_NE(erro->texto.find("no cipher match"), std::string::npos) << erro->texto;
}

}  // namespace
}  // namespace orbelo
