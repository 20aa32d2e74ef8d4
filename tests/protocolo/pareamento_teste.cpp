#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <span>

#include "protocolo/Pareamento.hpp"

namespace orbelo {
namespace {

using ::testing::ElementsAre;
using ::testing::Optional;

TEST(GerarCodigo, GivesSixAsciiDigitsWithEveryDigitPossibleInEveryPlace) {
  std::array<std::set<char>, 6> vistos;
  for (int i = 0; i < 2000; ++i) {
    const auto codigo = Pareamento::gerarCodigo();
    ASSERT_EQ(codigo.size(), 6u) << codigo;
    for (std::size_t posicao = 0; posicao < 6; ++posicao) {
      ASSERT_TRUE(codigo[posicao] >= '0' && codigo[posicao] <= '9') << codigo;
      vistos[posicao].insert(codigo[posicao]);
    }
  }
  // A leading zero appears only when small draws are padded rather than avoided.
  for (const auto& digitos : vistos) {
    EXPECT_EQ(digitos.size(), 10u);
  }
}

TEST(Normalizar, DropsSpacesAndHyphensBetweenTheDigits) {
  EXPECT_THAT(Pareamento::normalizar("123 456"), Optional(std::string("123456")));
  EXPECT_THAT(Pareamento::normalizar("12-34 56"), Optional(std::string("123456")));
  EXPECT_THAT(Pareamento::normalizar(" \t1-2-3\r\n4 5 6\n"), Optional(std::string("123456")));
}

TEST(Normalizar, DropsUnicodeSpacesNotOnlyAsciiOnes) {
  // No-break space, ideographic space, em space, line separator, next line.
  EXPECT_THAT(Pareamento::normalizar("123\u00A0456"), Optional(std::string("123456")));
  EXPECT_THAT(Pareamento::normalizar("\u3000123\u2003456\u2028\u0085"), Optional(std::string("123456")));
}

TEST(Normalizar, NeedsSixCharactersAfterDropping) {
  EXPECT_EQ(Pareamento::normalizar("12345"), std::nullopt);
  EXPECT_EQ(Pareamento::normalizar("1 2 3-4-5"), std::nullopt);
  EXPECT_EQ(Pareamento::normalizar(""), std::nullopt);
  EXPECT_EQ(Pareamento::normalizar("  - -- \u00A0 -    "), std::nullopt);
}

TEST(Normalizar, KeepsLettersPunctuationAndLongCodesWhole) {
  EXPECT_THAT(Pareamento::normalizar("abcdefgh"), Optional(std::string("abcdefgh")));
  EXPECT_THAT(Pareamento::normalizar("1234567890123"), Optional(std::string("1234567890123")));
  EXPECT_THAT(Pareamento::normalizar("AbC.12_"), Optional(std::string("AbC.12_")));
  EXPECT_THAT(Pareamento::normalizar("\u0661\u0662\u0663\u0664\u0665\u0666"),
              Optional(std::string("\u0661\u0662\u0663\u0664\u0665\u0666")));
}

TEST(Normalizar, CountsUserPerceivedCharactersNotBytesOrCodePoints) {
  // "e" + combining acute is one character: five of them plus a digit make six...
  EXPECT_THAT(Pareamento::normalizar("e\u0301e\u0301e\u0301e\u0301e\u03011"),
              Optional(std::string("e\u0301e\u0301e\u0301e\u0301e\u03011")));
  // ...and five of them alone are too few, though they are ten code points.
  EXPECT_EQ(Pareamento::normalizar("e\u0301e\u0301e\u0301e\u0301e\u0301"), std::nullopt);
  // Five two-byte letters are still five characters.
  EXPECT_EQ(Pareamento::normalizar("çãéõü"), std::nullopt);
  // A flag is one character made of two code points.
  EXPECT_EQ(Pareamento::normalizar("\U0001F1E7\U0001F1F7\U0001F1E7\U0001F1F712"), std::nullopt);
}

TEST(Normalizar, AHyphenCarryingACombiningMarkIsNotAPlainHyphen) {
  EXPECT_THAT(Pareamento::normalizar("-\u030112345"), Optional(std::string("-\u030112345")));
}

TEST(Normalizar, TextThatIsNotUtf8IsNoCode) {
  EXPECT_EQ(Pareamento::normalizar("123\xFF"
                                   "456"),
            std::nullopt);
  EXPECT_EQ(Pareamento::normalizar("1234567\xC3"), std::nullopt);
  EXPECT_EQ(Pareamento::normalizar("\xC0\x80"
                                   "123456"),
            std::nullopt);
  EXPECT_EQ(Pareamento::normalizar("\xED\xA0\x80"
                                   "123456"),
            std::nullopt);
}

std::string hexadecimal(std::span<const std::uint8_t> bytes) {
  std::string texto;
  for (const auto byte : bytes) {
    char par[3];
    std::snprintf(par, sizeof par, "%02x", byte);
    texto += par;
  }
  return texto;
}

// What the openssl command prints as the HMAC-SHA256 of the label under `chave`.
std::string hmacDoOpenssl(const std::string& chave) {
  const std::string comando = "printf 'varovia/psk' | openssl dgst -sha256 -hmac '" + chave + "'";
  std::unique_ptr<FILE, decltype(&pclose)> processo(popen(comando.c_str(), "r"), pclose);
  if (!processo) {
    return {};
  }
  std::string saida;
  char bloco[256];
  while (std::fgets(bloco, sizeof bloco, processo.get()) != nullptr) {
    saida += bloco;
  }
  const auto igual = saida.rfind("= ");
  return igual == std::string::npos ? saida : saida.substr(igual + 2, 64);
}

TEST(DerivarChave, MatchesTheOpensslCommandLine) {
  EXPECT_EQ(hexadecimal(Pareamento::derivarChave("123456")), hmacDoOpenssl("123456"));
  EXPECT_EQ(hexadecimal(Pareamento::derivarChave("código7")), hmacDoOpenssl("código7"));
}

TEST(Parametros, CarryTheKeyIdentityAndTheThreeSuitesUpToTls12) {
  const auto parametros = Pareamento::parametros("123456");
  EXPECT_EQ(parametros.chave, Pareamento::derivarChave("123456"));
  EXPECT_EQ(parametros.identidade, "varovia");
  EXPECT_THAT(parametros.suites, ElementsAre(0xCCAC, 0xC035, 0x00A8));
  EXPECT_EQ(parametros.versaoMaxima, 0x0303);
  EXPECT_TRUE(parametros.semAtraso);
  EXPECT_FALSE(parametros.exigirCabo);
}

TEST(Parametros, TheKeyIsTheSameForTheSameCodeAndDiffersForAnUntrimmedOne) {
  EXPECT_EQ(Pareamento::parametros("123456").chave, Pareamento::parametros("123456").chave);
  EXPECT_NE(Pareamento::parametros("123456 ").chave, Pareamento::parametros("123456").chave);
  EXPECT_NE(Pareamento::parametros("123457").chave, Pareamento::parametros("123456").chave);
}

TEST(SuiteNegociada, NamesTheOfferedSuitesAndFallsBackForOthers) {
  EXPECT_EQ(Pareamento::suiteNegociada(0xCCAC), "ECDHE_PSK_WITH_CHACHA20_POLY1305_SHA256");
  EXPECT_EQ(Pareamento::suiteNegociada(0xC035), "ECDHE_PSK_WITH_AES_128_CBC_SHA");
  EXPECT_EQ(Pareamento::suiteNegociada(0x00A8), "PSK_WITH_AES_128_GCM_SHA256");
  EXPECT_EQ(Pareamento::suiteNegociada(0x00AB), "suite 0x00AB");
  EXPECT_EQ(Pareamento::suiteNegociada(0xc0ff), "suite 0xC0FF");
  EXPECT_EQ(Pareamento::suiteNegociada(std::nullopt), "sem TLS");
}

TEST(EhErroDeCodigo, OnlyTlsFailuresMeanAWrongCode) {
  EXPECT_TRUE(Pareamento::ehErroDeCodigo({ErroRede::Tipo::tls, -9806, "handshake"}));
  EXPECT_TRUE(Pareamento::ehErroDeCodigo({ErroRede::Tipo::tls, 0, ""}));
  EXPECT_FALSE(Pareamento::ehErroDeCodigo({ErroRede::Tipo::posix, 111, "Connection refused"}));
  EXPECT_FALSE(Pareamento::ehErroDeCodigo({ErroRede::Tipo::dns, -65554, "NoSuchRecord"}));
}

}  // namespace
}  // namespace orbelo
