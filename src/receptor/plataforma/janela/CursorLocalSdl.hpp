#pragma once

#include "receptor/CursorLocal.hpp"

namespace orbelo {

// The desktop pointer over our window. SDL keeps one shown/hidden state, not a count:
// the receiver's rule of one hide outstanding is what keeps calls balanced.
class CursorLocalSdl : public CursorLocal {
 public:
  void esconder() override;
  void mostrar() override;
};

}  // namespace orbelo
