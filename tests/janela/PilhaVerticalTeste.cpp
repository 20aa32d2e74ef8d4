#include <gtest/gtest.h>

#include <array>

#include "receptor/plataforma/janela/PilhaVertical.hpp"

namespace orbelo {
namespace {

void esperarCanto(ImVec2 canto, float x, float y) {
  EXPECT_FLOAT_EQ(canto.x, x);
  EXPECT_FLOAT_EQ(canto.y, y);
}

TEST(PilhaVertical, ViewsFollowEachOtherWithTheSpacingAfterEachAndTheColumnIsCentred) {
  // Heights 20 + 10 + 30 + 10 + 40 = 110 in an area 300 high: the column starts at 95.
  const std::array itens{
      ItemPilha{{100, 20}, 10}, ItemPilha{{50, 30}, 10},
      ItemPilha{{200, 40}, 99},  // spacing after the last view adds nothing
  };
  auto cantos = disporPilha(itens, {400, 300});
  ASSERT_EQ(cantos.size(), 3u);
  esperarCanto(cantos[0], 150, 95);
  esperarCanto(cantos[1], 175, 125);
  esperarCanto(cantos[2], 100, 165);
}

TEST(PilhaVertical, AHiddenViewTakesNoRoomAndItsSpacingGoesWithIt) {
  // As the pairing panel's error line: 36 after the field, 28 after the hidden error.
  const std::array itens{
      ItemPilha{{280, 50}, 36},
      ItemPilha{{300, 20}, 28, true},
      ItemPilha{{80, 30}, 0},
  };
  auto cantos = disporPilha(itens, {1000, 1000});
  // 50 + 36 + 30 = 116: the column starts at 442.
  esperarCanto(cantos[0], 360, 442);
  esperarCanto(cantos[2], 460, 528);

  const std::array mostrado{itens[0], ItemPilha{{300, 20}, 28}, itens[2]};
  cantos = disporPilha(mostrado, {1000, 1000});
  // 50 + 36 + 20 + 28 + 30 = 164: the column starts at 418.
  esperarCanto(cantos[1], 350, 504);
  esperarCanto(cantos[2], 460, 552);
}

TEST(PilhaVertical, CornersFallOnWholeUnitsSoTextStaysSharp) {
  const std::array itens{ItemPilha{{101, 21}, 0}};
  auto cantos = disporPilha(itens, {400, 300});
  esperarCanto(cantos[0], 149, 139);
}

}  // namespace
}  // namespace orbelo
