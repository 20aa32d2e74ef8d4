#pragma once

namespace orbelo {

// The desktop's own mouse pointer over our window.
class CursorLocal {
 public:
  virtual ~CursorLocal() = default;
  virtual void esconder() = 0;
  virtual void mostrar() = 0;
};

}  // namespace orbelo
