#pragma once

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace orbelo {

using Bytes = std::vector<std::uint8_t>;
using VistaBytes = std::span<const std::uint8_t>;

enum class TipoMensagem : std::uint8_t {
  config = 1,
  parametros = 2,
  quadro = 3,
  pedirKeyframe = 4,
  telaReceptor = 5,
  cursor = 6,
  imagemCursor = 7,
  ping = 8,
  pong = 9,
  exibicao = 10,
};

// 0 and 11..255 are no message type.
std::optional<TipoMensagem> tipoMensagem(std::uint8_t valor);

namespace Protocolo {
inline constexpr std::string_view tipoServico = "_varovia._tcp";
inline constexpr std::uint16_t portaPadrao = 7420;
// Largest value of a frame's length field (type byte plus payload).
inline constexpr std::uint32_t comprimentoMaximo = 64 * 1024 * 1024;

// One complete frame: length (payload + 1) big-endian, type, payload.
Bytes empacotar(TipoMensagem tipo, VistaBytes payload);
// The start of such a frame, with room reserved for the `tamanhoPayload` bytes to append.
Bytes cabecalho(TipoMensagem tipo, std::size_t tamanhoPayload);
}  // namespace Protocolo

namespace Recursos {
inline constexpr std::uint32_t cursorLocal = 1;
}

template <std::unsigned_integral T>
void anexarBE(Bytes& destino, T valor) {
  for (int deslocamento = (sizeof(T) - 1) * 8; deslocamento >= 0; deslocamento -= 8) {
    destino.push_back(static_cast<std::uint8_t>(valor >> deslocamento));
  }
}

inline void anexarBE(Bytes& destino, float valor) {
  anexarBE(destino, std::bit_cast<std::uint32_t>(valor));
}

// Caller checks that sizeof(T) bytes exist at `em`.
template <std::unsigned_integral T>
T lerBE(VistaBytes origem, std::size_t em) {
  T valor = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    valor = static_cast<T>((valor << 8) | origem[em + i]);
  }
  return valor;
}

inline float lerFloatBE(VistaBytes origem, std::size_t em) {
  return std::bit_cast<float>(lerBE<std::uint32_t>(origem, em));
}

}  // namespace orbelo
