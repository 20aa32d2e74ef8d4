#pragma once

#include "Aparencia.hpp"
#include "receptor/EstadoTela.hpp"

namespace orbelo {

inline constexpr const char* tituloBotaoAviso = "Digitar o código ou o endereço do MacBook…";

// The notice label and, under it, the button that opens the pairing panel, centred in
// `area`. Draws nothing while the stack is hidden.
AcaoInterface desenharPilhaAvisos(const EstadoTela& estado, const Aparencia& aparencia, ImVec2 area);

}  // namespace orbelo
