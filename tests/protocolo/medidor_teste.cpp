#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "protocolo/Medidor.hpp"

namespace orbelo {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

// On a clock the test moves by hand. Each line covers its whole window, from the start or the last
// zeroing, and only that window.
TEST(Medidor, EachLineCoversItsWholeWindowAndOnlyThatWindowAndZeroingRestartsIt) {
  std::chrono::steady_clock::time_point agora{1000h};
  std::vector<std::string> linhas;
  Medidor medidor{"Recebido", [&] { return agora; },
                  [&](std::string_view linha) { linhas.emplace_back(linha); }};
  for (int i = 0; i < 249; ++i) {
    medidor.registrar(100'000);
  }
  medidor.descartado();
  agora += 4999ms;
  medidor.descartado();
  medidor.descartado();
  agora += 3001ms;
  medidor.registrar(100'000);  // a late frame: the rates average over all eight seconds
  for (int i = 0; i < 99; ++i) {
    medidor.registrar(1000);
  }
  agora += 5s;
  medidor.registrar(1000);
  EXPECT_THAT(linhas, ElementsAre("Recebido: 31 quadros/s \u00B7 25.0 Mbps \u00B7 3 descartados (rede lenta)",
                                  "Recebido: 20 quadros/s \u00B7 0.2 Mbps"));

  // Zeroing discards the counts and restarts the window silently.
  medidor.registrar(1'000'000'000);
  medidor.descartado();
  agora += 4s;
  medidor.zerar();
  agora += 4s;
  medidor.registrar(1000);
  EXPECT_EQ(linhas.size(), 2u);
  agora += 1s;
  medidor.registrar(1000);
  EXPECT_EQ(linhas.back(), "Recebido: 0 quadros/s \u00B7 0.0 Mbps");
}

}  // namespace
}  // namespace orbelo
