#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Preferencias.hpp"

namespace orbelo {

// Everything the receiver keeps between runs, apart from the autostart entry.
namespace Lembranca {

inline constexpr std::string_view preferenciaCodigo = "codigo";
inline constexpr std::string_view preferenciaHost = "host";
inline constexpr std::string_view preferenciaInicioConfigurado = "inicioConfigurado";
inline constexpr std::string_view preferenciaEstatisticas = "mostrarEstatisticas";

// The pairing that just worked; connecting by discovery forgets any address.
void salvar(Preferencias& preferencias, const std::string& codigo, const std::optional<std::string>& host);

}  // namespace Lembranca
}  // namespace orbelo
