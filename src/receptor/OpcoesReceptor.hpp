#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "protocolo/Protocolo.hpp"
#include "receptor/TamanhoTela.hpp"

namespace orbelo {

// What the parser prints, with a line feed, before the process ends with `status`.
struct SaidaAntecipada {
  std::string texto;
  int status = 0;
};

// The parsed command line.
struct OpcoesReceptor {
  std::optional<std::string> host;
  std::uint16_t porta = Protocolo::portaPadrao;
  bool janela = false;
  std::optional<std::string> codigo;  // already normalised
  std::optional<TamanhoTela> tela;

  // The usage text, without a final line feed.
  static const std::string& ajuda();

  // `argumentos` as the process got them, the program's path first.
  static std::variant<OpcoesReceptor, SaidaAntecipada> ler(std::span<const std::string_view> argumentos);
};

}  // namespace orbelo
