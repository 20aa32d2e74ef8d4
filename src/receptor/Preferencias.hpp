#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orbelo {

// The user's remembered values; safe to use from any thread.
class Preferencias {
 public:
  virtual ~Preferencias() = default;
  virtual std::optional<std::string> texto(std::string_view preferencia) const = 0;
  virtual bool booleano(std::string_view preferencia) const = 0;  // false when missing
  virtual void gravarTexto(std::string_view preferencia, const std::string& valor) = 0;
  virtual void gravarBooleano(std::string_view preferencia, bool valor) = 0;
  virtual void remover(std::string_view preferencia) = 0;
};

}  // namespace orbelo
