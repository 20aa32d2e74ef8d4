#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the X display shows, read back as a person would see it.
namespace orbelo::e2e {

struct Rgb {
  int r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

bool perto(Rgb a, Rgb b, int tolerancia);
inline bool preto(Rgb c) {
  return c == Rgb{0, 0, 0};
}

// A rectangle of screen pixels, top-left origin; right and bottom excluded.
struct Caixa {
  int x = 0, y = 0, largura = 0, altura = 0;
  int direita() const { return x + largura; }
  int baixo() const { return y + altura; }
  Caixa encolhida(int margem) const {
    return {x + margem, y + margem, largura - 2 * margem, altura - 2 * margem};
  }
  bool operator==(const Caixa&) const = default;
};

bool perto(const Caixa& a, const Caixa& b, int tolerancia);
std::string texto(const Caixa& caixa);
std::string texto(Rgb cor);

class Captura {
 public:
  Captura() = default;
  Captura(int largura, int altura, std::vector<std::uint8_t> rgb);

  int largura() const { return largura_; }
  int altura() const { return altura_; }
  Rgb em(int x, int y) const;
  // An ordinary window's content: two thirds of the screen each way, centred.
  Caixa janelaComum() const;

  double fracao(const std::function<bool(Rgb)>& teste, Caixa area) const;
  // Smallest box holding every pixel of `area` that passes `teste`; none when none does.
  std::optional<Caixa> extensao(const std::function<bool(Rgb)>& teste, Caixa area) const;
  // Channel by channel.
  Rgb mediana(Caixa area) const;
  // Rows of `area` with a run of at least `comprimento` pixels that pass `teste`.
  std::vector<int> linhas(const std::function<bool(Rgb)>& teste, Caixa area, int comprimento) const;

  // Kept as a PNG beside the test binary, for a person to look at after a run.
  void guardar(std::string_view nome) const;

 private:
  int largura_ = 0;
  int altura_ = 0;
  std::vector<std::uint8_t> rgb_;
};

Captura capturar();

// What is wrong with a capture; empty when it shows what was expected.
using Verificacao = std::function<std::string(const Captura&)>;

// Captures until `verificacao` passes or `espera` runs out, and returns its last verdict;
// the last capture is kept under `nome`.
std::string esperarTela(std::string_view nome, const Verificacao& verificacao,
                        std::chrono::milliseconds espera = std::chrono::seconds(20));

// Runs xdotool with these arguments; false when it failed.
bool xdotool(const std::string& argumentos);
// No window titled as the receiver's is on the display.
bool semJanelaReceptor();

}  // namespace orbelo::e2e
