#include <gtest/gtest.h>

#include <limits>

#include "receptor/Geometria.hpp"

namespace orbelo {
namespace {

void esperarRetangulo(const Retangulo& obtido, const Retangulo& esperado) {
  EXPECT_DOUBLE_EQ(obtido.x, esperado.x);
  EXPECT_DOUBLE_EQ(obtido.y, esperado.y);
  EXPECT_DOUBLE_EQ(obtido.largura, esperado.largura);
  EXPECT_DOUBLE_EQ(obtido.altura, esperado.altura);
}

TEST(AjustarProporcao, TheLargestRectangleOfTheVideosAspectIsCentredInTheBounds) {
  esperarRetangulo(ajustarProporcao(1920, 1080, {0, 0, 1920, 1200}), {0, 60, 1920, 1080});
  esperarRetangulo(ajustarProporcao(1024, 768, {0, 0, 1920, 1080}), {240, 0, 1440, 1080});
  esperarRetangulo(ajustarProporcao(16, 9, {0, 0, 1920, 1080}), {0, 0, 1920, 1080});
  esperarRetangulo(ajustarProporcao(1600, 900, {100, 50, 800, 800}), {100, 225, 800, 450});
}

TEST(AjustarProporcao, AVideoSizeWithNoAspectGivesTheBoundsWhole) {
  const Retangulo limite{10, 20, 300, 200};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (auto [largura, altura] : {std::pair{0.0, 1080.0},
                                 {1920.0, 0.0},
                                 {-4.0, 3.0},
                                 {nan, 1.0},
                                 {std::numeric_limits<double>::infinity(), 1.0}}) {
    esperarRetangulo(ajustarProporcao(largura, altura, limite), limite);
  }
}

}  // namespace
}  // namespace orbelo
