#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "protocolo/Medidor.hpp"

namespace orbelo {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A meter on a clock the test moves by hand, printing into a list.
struct MedidorManual {
  std::chrono::steady_clock::time_point agora{1000h};
  std::vector<std::string> linhas;
  Medidor medidor{"Recebido", [this] { return agora; },
                  [this](std::string_view linha) { linhas.emplace_back(linha); }};
};

TEST(Medidor, ThreeHundredFramesOfTwentyFiveThousandBytesOverFiveSeconds) {
  MedidorManual m;
  for (int i = 1; i < 300; ++i) {
    m.agora += 16ms, m.medidor.registrar(25'000);
  }
  EXPECT_THAT(m.linhas, IsEmpty());
  m.agora = std::chrono::steady_clock::time_point{1000h} + 5s;
  m.medidor.registrar(25'000);
  EXPECT_THAT(m.linhas, ElementsAre("Recebido: 60 quadros/s \u00B7 12.0 Mbps"));
}

TEST(Medidor, EachLineCoversItsWholeWindowAndOnlyThatWindowAndZeroingRestartsIt) {
  MedidorManual m;
  std::vector<std::string> resumos;
  m.medidor.aoResumir = [&](const std::string& resumo) { resumos.push_back(resumo); };
  for (int i = 0; i < 249; ++i) {
    m.medidor.registrar(100'000);
  }
  m.medidor.descartado();
  m.agora += 4999ms;
  m.medidor.descartado();
  m.medidor.descartado();
  m.agora += 3001ms;
  m.medidor.registrar(100'000);  // a late frame: the rates average over all eight seconds
  for (int i = 0; i < 99; ++i) {
    m.medidor.registrar(1000);
  }
  m.agora += 5s;
  m.medidor.registrar(1000);
  EXPECT_THAT(m.linhas,
              ElementsAre("Recebido: 31 quadros/s \u00B7 25.0 Mbps \u00B7 3 descartados (rede lenta)",
                          "Recebido: 20 quadros/s \u00B7 0.2 Mbps"));
  EXPECT_THAT(resumos, ElementsAre("31 quadros/s \u00B7 25.0 Mbps \u00B7 3 descartados (rede lenta)",
                                   "20 quadros/s \u00B7 0.2 Mbps"));

  // Zeroing discards the counts and restarts the window silently.
  for (int i = 0; i < 500; ++i) {
    m.medidor.registrar(1'000'000);
  }
  m.medidor.descartado();
  m.agora += 4s;
  m.medidor.zerar();
  m.agora += 4s;
  m.medidor.registrar(1000);
  EXPECT_EQ(m.linhas.size(), 2u);
  m.agora += 1s;
  m.medidor.registrar(1000);
  EXPECT_EQ(m.linhas.back(), "Recebido: 0 quadros/s \u00B7 0.0 Mbps");
}

}  // namespace
}  // namespace orbelo
