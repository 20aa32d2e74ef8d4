#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>

#include "protocolo/Pareamento.hpp"

namespace orbelo {
namespace {

TEST(Pareamento, GeneratedCodesAreSixDigitsWithEveryDigitPossibleInEveryPlace) {
  std::array<std::set<char>, 6> vistos;
  for (int i = 0; i < 2000; ++i) {
    const auto codigo = Pareamento::gerarCodigo();
    ASSERT_EQ(codigo.size(), 6u) << codigo;
    for (std::size_t posicao = 0; posicao < 6; ++posicao) {
      ASSERT_TRUE(codigo[posicao] >= '0' && codigo[posicao] <= '9') << codigo;
      vistos[posicao].insert(codigo[posicao]);
    }
  }
  // A leading zero shows up only when small draws are padded rather than avoided.
  for (const auto& digitos : vistos) {
    EXPECT_EQ(digitos.size(), 10u);
  }
}

TEST(Pareamento, NormalisingDropsSpacesAndHyphensAndCountsUserPerceivedCharacters) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> casos = {
      {" \t1-2-3\r\n4 5 6\n", "123456"},
      {"\u3000123\u00A0456\u2028\u0085", "123456"},  // Unicode spaces, not only ASCII ones
      {"AbC.12_xyz", "AbC.12_xyz"},
      {"-\u030112345", "-\u030112345"},  // a hyphen with a mark on it is no plain hyphen
      {"e\u0301e\u0301e\u0301e\u0301e\u03011", "e\u0301e\u0301e\u0301e\u0301e\u03011"},
      {"e\u0301e\u0301e\u0301e\u0301e\u0301", std::nullopt},  // ten code points, five characters
      {"çãéõü", std::nullopt},
      {"\U0001F1E7\U0001F1F7\U0001F1E7\U0001F1F712", std::nullopt},  // two flags and two digits
      {"1 2 3-4-5", std::nullopt},
      {"", std::nullopt},
      {"  - -- \u00A0 -    ", std::nullopt},
      {"123\xFF"
       "456",
       std::nullopt},  // not UTF-8
      {"\xC0\x80"
       "123456",
       std::nullopt},
      {"1234567\xC3", std::nullopt},
  };
  for (const auto& [digitado, esperado] : casos) {
    EXPECT_EQ(Pareamento::normalizar(digitado), esperado) << digitado;
  }
}

std::string hexadecimal(const std::array<std::uint8_t, 32>& bytes) {
  char texto[65];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(texto + 2 * i, 3, "%02x", bytes[i]);
  }
  return texto;
}

// The last 64 characters of what `openssl dgst` prints: the HMAC of the label under `chave`.
std::string hmacDoOpenssl(const std::string& chave) {
  const std::string comando = "printf 'varovia/psk' | openssl dgst -sha256 -hmac '" + chave + "'";
  std::unique_ptr<FILE, decltype(&pclose)> processo(popen(comando.c_str(), "r"), pclose);
  std::string saida;
  char bloco[256];
  while (processo && std::fgets(bloco, sizeof bloco, processo.get()) != nullptr) {
    saida += bloco;
  }
  return saida.size() > 65 ? saida.substr(saida.size() - 65, 64) : saida;
}

TEST(Pareamento, TheKeyIsWhatOpensslComputesForTheCodeAndTheLabel) {
  for (const char* codigo : {"123456", "código7"}) {
    EXPECT_EQ(hexadecimal(Pareamento::derivarChave(codigo)), hmacDoOpenssl(codigo));
  }
}

}  // namespace
}  // namespace orbelo
