#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "Protocolo.hpp"

namespace orbelo {

// Size as fractions of the picture; hot spot as fractions of the image, from its top-left corner.
struct FormaCursor {
  float largura = 0;
  float altura = 0;
  float pontaX = 0;
  float pontaY = 0;
};

// The payload of each message, read and written side by side. `ler` takes a payload as the
// frame reader hands it over: none when it is shorter than its fields or holds what no
// receiver can use; bytes past the fields are ignored. `empacotar` gives the complete frame.
// A `ping` is opaque and its `pong` repeats it; a `pedirKeyframe` is empty.
namespace Mensagens {

// The sender's picture size; only its ratio matters.
struct Config {
  static constexpr std::size_t tamanho = 8;
  std::uint32_t largura = 0;
  std::uint32_t altura = 0;

  static std::optional<Config> ler(VistaBytes payload);
  Bytes empacotar() const;
};

// The stream's two parameter sets, each a record behind its 16-bit length, SPS first.
struct Parametros {
  Bytes sps;
  Bytes pps;

  bool operator==(const Parametros&) const = default;
  // Records after the second are ignored.
  static std::optional<Parametros> ler(VistaBytes payload);
  // None when a set does not fit its 16-bit length.
  std::optional<Bytes> empacotar() const;
};

// One access unit behind a flag that is exactly 1 for a key frame.
struct Quadro {
  static constexpr std::size_t tamanhoMinimo = 2;
  bool keyframe = false;
  VistaBytes unidades;  // NAL units behind 4-byte lengths, inside the payload read or the bytes to send

  static std::optional<Quadro> ler(VistaBytes payload);
  Bytes empacotar() const;
};

// The receiver's screen in pixels, and the `Recursos` it has.
struct TelaReceptor {
  static constexpr std::size_t tamanho = 12;
  std::uint32_t largura = 0;
  std::uint32_t altura = 0;
  std::uint32_t recursos = 0;

  static std::optional<TelaReceptor> ler(VistaBytes payload);
  Bytes empacotar() const;
};

// The pointer's hot spot as fractions of the picture, from its top-left corner; visible only
// when its flag is exactly 1. A position that is not a finite number is refused.
struct Cursor {
  static constexpr std::size_t tamanho = 9;
  float x = 0;
  float y = 0;
  bool visivel = false;

  static std::optional<Cursor> ler(VistaBytes payload);
  Bytes empacotar() const;
};

// A pointer image file behind its shape. A shape that is not finite numbers is refused.
struct ImagemCursor {
  static constexpr std::size_t cabecalho = 16;
  FormaCursor forma;
  VistaBytes imagem;  // at least one byte, inside the payload read or the file to send

  static std::optional<ImagemCursor> ler(VistaBytes payload);
  Bytes empacotar() const;
};

// Frames per second the receiver handed to its display over the last report period.
struct Exibicao {
  static constexpr std::size_t tamanho = 2;
  std::uint16_t quadrosPorSegundo = 0;

  static std::optional<Exibicao> ler(VistaBytes payload);
  Bytes empacotar() const;
};

}  // namespace Mensagens
}  // namespace orbelo
