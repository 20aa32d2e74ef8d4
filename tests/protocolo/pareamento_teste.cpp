#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "apoio/Apoio.hpp"
#include "protocolo/Pareamento.hpp"

namespace orbelo {
namespace {

TEST(Pareamento, GeneratedCodesAreSixDigitsWithEveryDigitPossibleInEveryPlace) {
  std::array<std::set<char>, 6> vistos;
  for (int i = 0; i < 2000; ++i) {
    const auto codigo = Pareamento::gerarCodigo();
    ASSERT_EQ(codigo.size(), 6u) << codigo;
    for (std::size_t posicao = 0; posicao < 6; ++posicao) {
      vistos[posicao].insert(codigo[posicao]);
    }
  }
  // A leading zero shows up only when small draws are padded rather than avoided.
  EXPECT_THAT(vistos, ::testing::Each(::testing::ElementsAreArray(std::string("0123456789"))));
}

TEST(Pareamento, NormalisingDropsSpacesAndHyphensAndCountsUserPerceivedCharacters) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> casos = {
      {" \t1-2-3\r\n4 5 6\n", "123456"},
      {"\u3000123\u00A0456\u2028\u0085", "123456"},  // Unicode spaces, not only ASCII ones
      {"AbC.12_xyz", "AbC.12_xyz"},
      {"-\u030112345", "-\u030112345"},  // a hyphen with a mark on it is no plain hyphen
      {"e\u0301e\u0301e\u0301e\u0301e\u03011", "e\u0301e\u0301e\u0301e\u0301e\u03011"},
      {"e\u0301e\u0301e\u0301e\u0301e\u0301", std::nullopt},         // ten code points, five characters
      {"\U0001F1E7\U0001F1F7\U0001F1E7\U0001F1F712", std::nullopt},  // two flags and two digits
      {"1 2 3-4-5", std::nullopt},
      {"  - -- \u00A0 -    ", std::nullopt},
      {"123\xFF 456", std::nullopt},  // not UTF-8
      {"123456\xC0\x80", std::nullopt},
      {"1234567\xC3", std::nullopt},
  };
  for (const auto& [digitado, esperado] : casos) {
    EXPECT_EQ(Pareamento::normalizar(digitado), esperado) << digitado;
  }
}

// What `printf 'varovia/psk' | openssl dgst -sha256 -hmac CODE` prints for each code.
TEST(Pareamento, TheKeyIsWhatOpensslComputesForTheCodeAndTheLabel) {
  EXPECT_EQ(teste::chaveHex("123456"), "1cac6cd3616f036927c62cfb5fd8f0af7b5388afbfc97c1e6d9045e549fdc730");
  EXPECT_EQ(teste::chaveHex("código7"), "c7b87f88b6bcd0f3f3377bf0b0a456afb395a7bb680995f21c0ab3c01298fe00");
}

}  // namespace
}  // namespace orbelo
