#pragma once

#include <optional>
#include <vector>

#include "protocolo/Protocolo.hpp"

namespace orbelo::emissor {

// The two parameter sets a `parametros` message carries, without start codes.
struct ParametrosH264 {
  Bytes sps;
  Bytes pps;
  bool operator==(const ParametrosH264&) const = default;
};

namespace NalH264 {

inline constexpr int tipoSps = 7;
inline constexpr int tipoPps = 8;
inline constexpr int tipoDelimitador = 9;

// NAL units of an Annex-B byte stream (3- or 4-byte start codes), without start
// codes or trailing zero bytes. Bytes before the first start code are not a unit.
std::vector<VistaBytes> dividirAnexoB(VistaBytes fluxo);

int tipo(VistaBytes unidade);

// The units each preceded by its 4-byte big-endian length; empty units and
// access-unit delimiters are left out, since the receiver needs neither.
Bytes prefixarComprimentos(const std::vector<VistaBytes>& unidades);

// Updates `parametros` with the last SPS and PPS among the units; true when one changed.
bool atualizarParametros(const std::vector<VistaBytes>& unidades, std::optional<ParametrosH264>& parametros);

}  // namespace NalH264
}  // namespace orbelo::emissor
