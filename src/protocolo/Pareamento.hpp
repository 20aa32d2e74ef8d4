#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ErroRede.hpp"

namespace orbelo {

// Everything a secured connection needs, made fresh for each attempt.
struct ParametrosTls {
  std::array<std::uint8_t, 32> chave{};  // HMAC-SHA256(code, "varovia/psk")
  std::string identidade;                // "varovia"
  std::vector<std::uint16_t> suites;     // offered in this order
  std::uint16_t versaoMaxima = 0;        // 0x0303, TLS 1.2; no minimum
  bool semAtraso = true;                 // TCP no-delay
  bool exigirCabo = false;               // only wired interfaces may carry the attempt
};

struct Suite {
  std::uint16_t numero;
  std::string_view nomeOpenssl;  // name for OpenSSL's cipher list
  std::string_view nomeImpresso;
};

namespace Pareamento {

inline constexpr std::string_view rotuloChave = "varovia/psk";
inline constexpr std::string_view identidade = "varovia";
inline constexpr std::uint16_t versaoMaxima = 0x0303;
inline constexpr std::array<Suite, 3> suites{{
    {0xCCAC, "ECDHE-PSK-CHACHA20-POLY1305", "ECDHE_PSK_WITH_CHACHA20_POLY1305_SHA256"},
    {0xC035, "ECDHE-PSK-AES128-CBC-SHA", "ECDHE_PSK_WITH_AES_128_CBC_SHA"},
    {0x00A8, "PSK-AES128-GCM-SHA256", "PSK_WITH_AES_128_GCM_SHA256"},
}};

// Six decimal digits, zero-padded, from the system's secure random generator;
// throws std::runtime_error if that generator fails.
std::string gerarCodigo();

// Drops Unicode whitespace and '-' per user-perceived character; none when fewer than six
// remain or when the text is not valid UTF-8.
std::optional<std::string> normalizar(std::string_view digitado);

// The pre-shared key of a code, taken byte for byte (callers pass a normalised code).
std::array<std::uint8_t, 32> derivarChave(std::string_view codigo);

ParametrosTls parametros(std::string_view codigo);

// Printed name of a negotiated suite; "sem TLS" when there is none, "suite 0x%04X" when unknown.
std::string suiteNegociada(std::optional<std::uint16_t> numero);

// A TLS-layer failure means the sender refused the code.
bool ehErroDeCodigo(const ErroRede& erro);

}  // namespace Pareamento
}  // namespace orbelo
