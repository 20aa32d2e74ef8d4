#pragma once

namespace orbelo {

// Opening at login. `ligar` writes the entry for the running program (only when it runs
// as an installed copy) and prints one line when it cannot; `desligar` removes it silently.
class InicioAutomatico {
 public:
  virtual ~InicioAutomatico() = default;
  virtual bool instalado() const = 0;
  virtual bool existe() const = 0;
  virtual void ligar() = 0;
  virtual void desligar() = 0;
};

}  // namespace orbelo
