#include "Falhas.hpp"

#include <algorithm>
#include <array>

namespace orbelo::emissor::Falhas {

QuadroCodificado quadroIndecodificavel() {
  // A 7-byte unit: nal_ref_idc 2, type 1; then first_mb_in_slice = 2^20 - 1 as
  // Exp-Golomb (20 zeros, a one, 20 zeros) and the stop bit.
  return QuadroCodificado{{0x00, 0x00, 0x00, 0x07, 0x41, 0x00, 0x00, 0x08, 0x00, 0x00, 0x40}, false};
}

Bytes comprimentoCorrompido() {
  Bytes cabecalho;
  anexarBE(cabecalho, Protocolo::comprimentoMaximo + 1);
  cabecalho.push_back(static_cast<std::uint8_t>(TipoMensagem::quadro));
  return cabecalho;
}

Bytes registroTlsEstragado() {
  // Application data, TLS 1.2, then a 32-byte body.
  Bytes registro(5 + 32, 0x5A);
  std::ranges::copy(std::array<std::uint8_t, 5>{23, 3, 3, 0, 32}, registro.begin());
  return registro;
}

std::string_view descrever(Falha::Tipo tipo) {
  switch (tipo) {
    case Falha::Tipo::comprimento:
      return "Falha injetada: comprimento corrompido";
    case Falha::Tipo::fechar:
      return "Falha injetada: conexão fechada";
    case Falha::Tipo::lixo:
      return "Falha injetada: quadro indecodificável";
    case Falha::Tipo::parametros:
      return "Falha injetada: parâmetros reenviados";
    case Falha::Tipo::registro:
      return "Falha injetada: registro TLS estragado";
  }
  return {};
}

}  // namespace orbelo::emissor::Falhas
