#pragma once

#include "Fonte.hpp"
#include "Opcoes.hpp"

namespace orbelo::emissor::Falhas {

// The bytes that replace a frame for `--falha-lixo`: one P-slice NAL unit whose
// first macroblock number lies far beyond any picture, which every H.264 decoder
// must reject (libavcodec reports it as invalid data).
QuadroCodificado quadroIndecodificavel();

// A frame header whose length is above the protocol's limit.
Bytes comprimentoCorrompido();

// A TLS application-data record of junk, written past OpenSSL: its tag cannot check.
Bytes registroTlsEstragado();

// The line printed when the fault is injected.
std::string_view descrever(Falha::Tipo tipo);

}  // namespace orbelo::emissor::Falhas
