#include "EscolhaConversao.hpp"

#include <epoxy/gl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <string>

namespace orbelo {

namespace {

constexpr const char* variavelAmbiente = "ORBELO_CONVERSAO";

// Mesa's llvmpipe, softpipe and swrast ("Software Rasterizer"), and the other systems'
// software renderers, which name themselves so.
bool renderizadorSoftware(std::string_view nome) {
  std::string minusculo(nome);
  std::transform(minusculo.begin(), minusculo.end(), minusculo.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  constexpr std::array<std::string_view, 4> marcas{"llvmpipe", "softpipe", "swrast", "software"};
  return std::any_of(marcas.begin(), marcas.end(),
                     [&](std::string_view marca) { return minusculo.find(marca) != std::string::npos; });
}

}  // namespace

Conversao escolherConversao(std::string_view renderizador, std::string_view forcada) {
  if (forcada == "cpu") {
    return Conversao::cpu;
  }
  if (forcada == "gpu") {
    return Conversao::gpu;
  }
  // No name at all is no evidence of a GPU.
  return renderizador.empty() || renderizadorSoftware(renderizador) ? Conversao::cpu : Conversao::gpu;
}

Conversao conversaoDoContexto() {
  const auto* nome = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  const char* forcada = std::getenv(variavelAmbiente);
  return escolherConversao(nome ? nome : "", forcada ? forcada : "");
}

}  // namespace orbelo
