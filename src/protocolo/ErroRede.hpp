#pragma once

#include <string>

namespace orbelo {

// A network failure as the transport reports it. `tls` is any failure inside the
// TLS layer (handshake alert, bad record, wrong version); the text is the system's.
struct ErroRede {
  enum class Tipo { posix, dns, tls };
  Tipo tipo = Tipo::posix;
  std::string texto;
};

}  // namespace orbelo
