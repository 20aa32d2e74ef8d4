#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// What the X display shows, read back as a person would see it.
namespace orbelo::teste {

struct Rgb {
  int r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

inline int distancia(Rgb a, Rgb b) {
  return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}
inline bool perto(Rgb a, Rgb b, int tolerancia) {
  return distancia(a, b) <= tolerancia;
}

// A rectangle of screen pixels, top-left origin; right and bottom excluded.
struct Caixa {
  int x = 0, y = 0, largura = 0, altura = 0;
  int direita() const { return x + largura; }
  int baixo() const { return y + altura; }
};

inline bool perto(const Caixa& a, const Caixa& b, int tolerancia) {
  return std::max({std::abs(a.x - b.x), std::abs(a.y - b.y), std::abs(a.direita() - b.direita()),
                   std::abs(a.baixo() - b.baixo())}) <= tolerancia;
}
std::string texto(const Caixa& caixa);
std::string texto(Rgb cor);

struct Captura {
  int largura = 0, altura = 0;
  std::vector<std::uint8_t> rgb;

  Rgb em(int x, int y) const {
    const auto i =
        (static_cast<std::size_t>(y) * static_cast<std::size_t>(largura) + static_cast<std::size_t>(x)) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
  // An ordinary window's content: two thirds of the screen each way, centred.
  Caixa janelaComum() const {
    return {largura / 6, altura / 6, largura - 2 * (largura / 6), altura - 2 * (altura / 6)};
  }
  // Smallest box holding every pixel of `area` that passes `teste`; none when none does.
  std::optional<Caixa> extensao(const std::function<bool(Rgb)>& teste, Caixa area) const;
  // Channel by channel.
  Rgb mediana(Caixa area) const;
  // Rows of `area` with a run of at least `comprimento` pixels that pass `teste`.
  std::vector<int> linhas(const std::function<bool(Rgb)>& teste, Caixa area, int comprimento) const;
};

Captura capturar();

// What is wrong with a capture; empty when it shows what was expected.
using Verificacao = std::function<std::string(const Captura&)>;

// Captures until `verificacao` passes or `espera` runs out, and returns its last verdict;
// the last capture is kept as capturas/`nome`.png beside the end-to-end tests, for a person
// to look at after a run.
std::string esperarTela(const std::string& nome, const Verificacao& verificacao,
                        std::chrono::milliseconds espera = std::chrono::seconds(20));

bool xdotool(const std::string& argumentos);

}  // namespace orbelo::teste
