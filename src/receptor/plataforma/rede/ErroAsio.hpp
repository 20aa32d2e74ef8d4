#pragma once

#include <asio/error_code.hpp>

#include "protocolo/ErroRede.hpp"

namespace orbelo {

// Kind by origin: OpenSSL's errors are the TLS layer's, name lookup's are DNS, the rest the system's.
ErroRede erroRede(const asio::error_code& erro);

}  // namespace orbelo
