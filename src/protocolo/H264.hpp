#pragma once

#include <optional>
#include <span>
#include <vector>

#include "Mensagens.hpp"
#include "Protocolo.hpp"

// H.264 as the programs handle it: Annex B byte streams cut into NAL units, and access
// units sent with each NAL unit behind its 4-byte big-endian length.
namespace orbelo::H264 {

// nal_unit_type values looked at; 1 to 5 are slices.
inline constexpr int tipoIdr = 5;
inline constexpr int tipoSps = 7;
inline constexpr int tipoPps = 8;
inline constexpr int tipoDelimitador = 9;

// A unit's nal_unit_type; 0 for an empty one.
int tipo(VistaBytes unidade);
bool ehFatia(int tipo);

// The NAL units of an Annex B stream (3- or 4-byte start codes), without start codes or
// trailing zero bytes. Bytes before the first start code are no unit.
std::vector<VistaBytes> dividirAnexoB(VistaBytes fluxo);

// The units each behind its 4-byte big-endian length; empty units and access-unit
// delimiters are left out, since a receiver needs neither.
Bytes prefixarComprimentos(std::span<const VistaBytes> unidades);

// Takes the last SPS and PPS among the units into `parametros`, once there are both.
void atualizarParametros(std::span<const VistaBytes> unidades,
                         std::optional<Mensagens::Parametros>& parametros);

}  // namespace orbelo::H264
