#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Preferencias.hpp"

namespace orbelo {

// Everything the receiver keeps between runs, apart from the autostart entry.
namespace Lembranca {

inline constexpr std::string_view chaveCodigo = "codigo";
inline constexpr std::string_view chaveHost = "host";
inline constexpr std::string_view chaveInicioConfigurado = "inicioConfigurado";
inline constexpr std::string_view chaveEstatisticas = "mostrarEstatisticas";

// The pairing that just worked; connecting by discovery forgets any address.
void salvar(Preferencias& preferencias, const std::string& codigo, const std::optional<std::string>& host);

}  // namespace Lembranca
}  // namespace orbelo
