#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
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

unsigned int chaveDoServidor(SSL* /*ssl*/, const char* /*identidade*/, unsigned char* chave,
                             unsigned int maximo) {
  const auto derivada = Pareamento::derivarChave("123456");
  if (derivada.size() > maximo) {
    return 0;
  }
  std::ranges::copy(derivada, chave);
  return static_cast<unsigned int>(derivada.size());
}

// Whether a client made from `contexto` completes a handshake, in memory, with a PSK server
// that speaks only `versao`, at the lowest security level so that the server refuses nothing itself.
bool aceitaVersao(SSL_CTX* contexto, int versao) {
  const Contexto servidor(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
  SSL_CTX_set_security_level(servidor.get(), 0);
  SSL_CTX_set_min_proto_version(servidor.get(), versao);
  SSL_CTX_set_max_proto_version(servidor.get(), versao);
  SSL_CTX_set_psk_server_callback(servidor.get(), chaveDoServidor);
  SSL_CTX_set_cipher_list(servidor.get(), "ECDHE-PSK-AES128-CBC-SHA:PSK-AES128-GCM-SHA256");
  const std::unique_ptr<SSL, decltype(&SSL_free)> cliente(SSL_new(contexto), SSL_free);
  const std::unique_ptr<SSL, decltype(&SSL_free)> outro(SSL_new(servidor.get()), SSL_free);
  BIO* lado = nullptr;
  BIO* outroLado = nullptr;
  BIO_new_bio_pair(&lado, 0, &outroLado, 0);
  SSL_set_bio(cliente.get(), lado, lado);
  SSL_set_bio(outro.get(), outroLado, outroLado);
  SSL_set_connect_state(cliente.get());
  SSL_set_accept_state(outro.get());
  for (int volta = 0; volta < 10; ++volta) {
    const bool clientePronto = SSL_do_handshake(cliente.get()) == 1;
    if (SSL_do_handshake(outro.get()) == 1 && clientePronto) {
      return true;
    }
  }
  ERR_clear_error();
  return false;
}

TEST(ConfigurarContexto, OffersExactlyTheThreeSuitesInOrderOnlyInTls12AtAnySecurityLevelNeverTheDefaults) {
  // The context reads its key from the parameters during each handshake: they outlive it.
  const auto parametrosTls = Pareamento::parametros("123456");
  // The default level, and stricter ones that must not drop any of the suites.
  for (const int nivel : {-1, 3, 4, 5}) {
    const Contexto contexto(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (nivel >= 0) {
      SSL_CTX_set_security_level(contexto.get(), nivel);
    }
    ASSERT_EQ(configurarContexto(contexto.get(), parametrosTls), std::nullopt);
    EXPECT_THAT(oferecidas(contexto.get()), ::testing::ElementsAre(0xCCAC, 0xC035, 0x00A8)) << nivel;
    // Only a TLS 1.2 peer is taken: an older one would get the CBC suite, a newer one other suites.
    for (const auto& [versao, aceita] : {std::pair(TLS1_VERSION, false), std::pair(TLS1_1_VERSION, false),
                                         std::pair(TLS1_2_VERSION, true), std::pair(TLS1_3_VERSION, false)}) {
      EXPECT_EQ(aceitaVersao(contexto.get(), versao), aceita) << nivel << ", version " << std::hex << versao;
    }
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
