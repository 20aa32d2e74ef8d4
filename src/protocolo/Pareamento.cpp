#include "Pareamento.hpp"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <utf8proc.h>

#include <cstdio>
#include <limits>
#include <new>
#include <stdexcept>

namespace orbelo::Pareamento {
namespace {

constexpr std::uint32_t quantidadeCodigos = 1'000'000;

// Unicode's White_Space property: the Z categories plus the C0 and C1 controls that break lines.
bool ehEspaco(utf8proc_int32_t ponto) {
  if ((ponto >= 0x09 && ponto <= 0x0D) || ponto == 0x85) {
    return true;
  }
  const auto categoria = utf8proc_category(ponto);
  return categoria == UTF8PROC_CATEGORY_ZS || categoria == UTF8PROC_CATEGORY_ZL ||
         categoria == UTF8PROC_CATEGORY_ZP;
}

// One user-perceived character: its bytes and its first code point.
struct Caractere {
  std::string_view texto;
  utf8proc_int32_t primeiro;
};

// None when the text is not valid UTF-8.
std::optional<std::vector<Caractere>> caracteres(std::string_view texto) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(texto.data());
  std::vector<Caractere> resultado;
  utf8proc_int32_t estado = 0;
  utf8proc_int32_t anterior = -1;
  std::size_t inicio = 0;
  std::size_t pos = 0;
  while (pos < texto.size()) {
    utf8proc_int32_t ponto = 0;
    const auto lidos =
        utf8proc_iterate(bytes + pos, static_cast<utf8proc_ssize_t>(texto.size() - pos), &ponto);
    if (lidos < 0) {
      return std::nullopt;
    }
    if (anterior < 0) {
      resultado.push_back({{}, ponto});
    } else if (utf8proc_grapheme_break_stateful(anterior, ponto, &estado)) {
      resultado.back().texto = texto.substr(inicio, pos - inicio);
      resultado.push_back({{}, ponto});
      inicio = pos;
    }
    anterior = ponto;
    pos += static_cast<std::size_t>(lidos);
  }
  if (!resultado.empty()) {
    resultado.back().texto = texto.substr(inicio);
  }
  return resultado;
}

}  // namespace

std::string gerarCodigo() {
  // Draws above the last whole multiple of a million are redrawn, so every code is equally likely.
  constexpr auto limite = std::numeric_limits<std::uint32_t>::max() -
                          std::numeric_limits<std::uint32_t>::max() % quantidadeCodigos;
  std::uint32_t sorteio = 0;
  do {
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&sorteio), sizeof sorteio) != 1) {
      throw std::runtime_error("gerador aleatório indisponível");
    }
  } while (sorteio >= limite);
  char texto[8];
  std::snprintf(texto, sizeof texto, "%06u", static_cast<unsigned>(sorteio % quantidadeCodigos));
  return texto;
}

std::optional<std::string> normalizar(std::string_view digitado) {
  // Text that is not UTF-8 is no code: the result is stored and shown as text later.
  const auto lista = caracteres(digitado);
  if (!lista) {
    return std::nullopt;
  }
  std::string codigo;
  std::size_t mantidos = 0;
  for (const auto& caractere : *lista) {
    if (ehEspaco(caractere.primeiro) || caractere.texto == "-") {
      continue;
    }
    codigo += caractere.texto;
    ++mantidos;
  }
  constexpr std::size_t minimo = 6;
  if (mantidos < minimo) {
    return std::nullopt;
  }
  return codigo;
}

std::array<std::uint8_t, 32> derivarChave(std::string_view codigo) {
  static constexpr unsigned char vazio = 0;
  const void* chave = codigo.empty() ? &vazio : static_cast<const void*>(codigo.data());
  std::array<std::uint8_t, 32> resultado{};
  unsigned int tamanho = 0;
  if (HMAC(EVP_sha256(), chave, static_cast<int>(codigo.size()),
           reinterpret_cast<const unsigned char*>(rotuloChave.data()), rotuloChave.size(), resultado.data(),
           &tamanho) == nullptr ||
      tamanho != resultado.size()) {
    throw std::bad_alloc();  // the one way a one-shot HMAC over SHA-256 fails
  }
  return resultado;
}

ParametrosTls parametros(std::string_view codigo) {
  ParametrosTls parametros;
  parametros.chave = derivarChave(codigo);
  parametros.identidade = identidade;
  for (const auto& suite : suites) {
    parametros.suites.push_back(suite.numero);
  }
  parametros.versaoMaxima = versaoMaxima;
  parametros.semAtraso = true;
  return parametros;
}

std::string suiteNegociada(std::optional<std::uint16_t> numero) {
  if (!numero) {
    return "sem TLS";
  }
  for (const auto& suite : suites) {
    if (suite.numero == *numero) {
      return std::string(suite.nomeImpresso);
    }
  }
  char texto[16];
  std::snprintf(texto, sizeof texto, "suite 0x%04X", static_cast<unsigned>(*numero));
  return texto;
}

bool ehErroDeCodigo(const ErroRede& erro) {
  return erro.tipo == ErroRede::Tipo::tls;
}

}  // namespace orbelo::Pareamento
