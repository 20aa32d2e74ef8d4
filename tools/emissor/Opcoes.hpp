#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "protocolo/Protocolo.hpp"

namespace orbelo::emissor {

struct Tamanho {
  int largura = 0;
  int altura = 0;
};

// What to break on purpose, after a number of frames of each connection.
struct Falha {
  enum class Tipo { comprimento, fechar, lixo, parametros, registro };
  Tipo tipo;
  std::uint64_t depoisDe;
};

struct OpcoesEmissor {
  std::optional<std::string> codigo;             // normalised; none: generate one
  std::uint16_t porta = Protocolo::portaPadrao;  // 0: any free port
  std::string escutar = "127.0.0.1";
  bool anunciar = true;
  Tamanho tamanho{1280, 720};
  std::optional<int> quadrosPorSegundo;  // none: the file's own rate, or 30
  std::optional<std::string> arquivo;
  std::optional<std::string> x11;
  std::optional<Falha> falha;
};

struct PedidoAjuda {};
struct ErroOpcoes {
  std::string texto;
};

using LeituraOpcoes = std::variant<OpcoesEmissor, PedidoAjuda, ErroOpcoes>;

// Arguments without the program name.
LeituraOpcoes lerOpcoes(std::span<const std::string_view> argumentos);

extern const std::string_view textoUso;

}  // namespace orbelo::emissor
