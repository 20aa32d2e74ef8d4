#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "Cenario.hpp"
#include "Tela.hpp"

namespace orbelo::e2e {

// Every case owns the one X screen while it runs: the services are up, no receiver
// window is left from before, and the mouse rests outside any window.
class CasoE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { prepararServicos(); }

  void SetUp() override {
    const auto limite = std::chrono::steady_clock::now() + 10s;
    while (!semJanelaReceptor() && std::chrono::steady_clock::now() < limite) {
      std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(semJanelaReceptor()) << "a receiver window from elsewhere is still on the screen";
    ASSERT_TRUE(xdotool("mousemove 1 1"));
  }

  // The preferences once they pass `teste`, which they must within a few seconds: they
  // are written right after the line that announces the connection.
  static std::optional<nlohmann::json> esperarPreferencias(
      const PastaTemporaria& configuracao, const std::function<bool(const nlohmann::json&)>& teste) {
    const auto limite = std::chrono::steady_clock::now() + 10s;
    auto lidas = lerPreferencias(configuracao);
    while (!(lidas && teste(*lidas)) && std::chrono::steady_clock::now() < limite) {
      std::this_thread::sleep_for(50ms);
      lidas = lerPreferencias(configuracao);
    }
    return lidas;
  }
};

}  // namespace orbelo::e2e
