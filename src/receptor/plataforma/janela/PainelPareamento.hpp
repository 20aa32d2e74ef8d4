#pragma once

#include "Aparencia.hpp"
#include "receptor/EstadoTela.hpp"

namespace orbelo {

// The pairing form, centred in `area`. Edits the code, address and login choice in
// `estado` directly and gives the keyboard to the code field when asked to.
AcaoInterface desenharPainelPareamento(EstadoTela& estado, const Aparencia& aparencia, ImVec2 area);

}  // namespace orbelo
