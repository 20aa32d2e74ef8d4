#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "protocolo/Saida.hpp"
#include "receptor/InicioAutomatico.hpp"

namespace orbelo {

// Opening at login through an XDG autostart entry in the user's configuration folder.
class InicioAutomaticoXdg : public InicioAutomatico {
 public:
  struct Locais {
    std::filesystem::path executavel;         // the running program, symbolic links resolved
    std::filesystem::path copiaInstalada;     // where installing puts the program
    std::filesystem::path pastaConfiguracao;  // the autostart folder lives inside it
  };
  static Locais locaisPadrao();

  // `imprimir` defaults to a line on standard output.
  explicit InicioAutomaticoXdg(Locais locais = locaisPadrao(), Impressora imprimir = {});

  bool instalado() const override;
  bool existe() const override;
  void ligar() override;
  void desligar() override;

  std::filesystem::path arquivo() const;

  // The Exec value that starts exactly `programa`, quoted and escaped as desktop entries require.
  static std::string linhaDeComando(const std::filesystem::path& programa);

 private:
  const Locais locais;
  const Impressora imprimir;
};

}  // namespace orbelo
