#pragma once

#include "protocolo/Protocolo.hpp"

namespace orbelo {

// orbelo's own icon (assets/orbelo.png), built into the program.
VistaBytes iconePng();

}  // namespace orbelo
