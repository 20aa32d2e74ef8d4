#pragma once

#include <openssl/ssl.h>

#include <optional>

#include "protocolo/ErroRede.hpp"
#include "protocolo/Pareamento.hpp"

namespace orbelo {

// Sets a client context up for TLS 1.2 only, without renegotiation, with a pre-shared key and exactly the
// suites of `parametros`, in their order. The context keeps a pointer to `parametros`, which must outlive it.
// Returns the error when OpenSSL refuses the setup.
std::optional<ErroRede> configurarContexto(SSL_CTX* contexto, const ParametrosTls& parametros);

}  // namespace orbelo
