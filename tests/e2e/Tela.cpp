#include "Tela.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace orbelo::e2e {

namespace {

using Cano = std::unique_ptr<FILE, int (*)(FILE*)>;

// "P6 <largura> <altura> 255" then the pixels.
bool lerCabecalhoPpm(FILE* arquivo, int& largura, int& altura) {
  int maximo = 0;
  return std::fscanf(arquivo, "P6 %d %d %d", &largura, &altura, &maximo) == 3 && maximo == 255 &&
         std::fgetc(arquivo) != EOF;
}

}  // namespace

bool perto(Rgb a, Rgb b, int tolerancia) {
  return std::abs(a.r - b.r) <= tolerancia && std::abs(a.g - b.g) <= tolerancia &&
         std::abs(a.b - b.b) <= tolerancia;
}

bool perto(const Caixa& a, const Caixa& b, int tolerancia) {
  return std::abs(a.x - b.x) <= tolerancia && std::abs(a.y - b.y) <= tolerancia &&
         std::abs(a.direita() - b.direita()) <= tolerancia && std::abs(a.baixo() - b.baixo()) <= tolerancia;
}

std::string texto(const Caixa& caixa) {
  return "(" + std::to_string(caixa.x) + ", " + std::to_string(caixa.y) + ", " +
         std::to_string(caixa.largura) + " x " + std::to_string(caixa.altura) + ")";
}

std::string texto(Rgb cor) {
  return "rgb(" + std::to_string(cor.r) + ", " + std::to_string(cor.g) + ", " + std::to_string(cor.b) + ")";
}

Captura::Captura(int largura, int altura, std::vector<std::uint8_t> rgb)
    : largura_(largura), altura_(altura), rgb_(std::move(rgb)) {}

Rgb Captura::em(int x, int y) const {
  const auto i =
      (static_cast<std::size_t>(y) * static_cast<std::size_t>(largura_) + static_cast<std::size_t>(x)) * 3;
  return {rgb_[i], rgb_[i + 1], rgb_[i + 2]};
}

Caixa Captura::janelaComum() const {
  return {largura_ / 6, altura_ / 6, largura_ - 2 * (largura_ / 6), altura_ - 2 * (altura_ / 6)};
}

double Captura::fracao(const std::function<bool(Rgb)>& teste, Caixa area) const {
  long passam = 0;
  for (int y = area.y; y < area.baixo(); ++y) {
    for (int x = area.x; x < area.direita(); ++x) passam += teste(em(x, y)) ? 1 : 0;
  }
  return static_cast<double>(passam) / (static_cast<double>(area.largura) * area.altura);
}

std::optional<Caixa> Captura::extensao(const std::function<bool(Rgb)>& teste, Caixa area) const {
  int x0 = area.direita(), y0 = area.baixo(), x1 = -1, y1 = -1;
  for (int y = area.y; y < area.baixo(); ++y) {
    for (int x = area.x; x < area.direita(); ++x) {
      if (!teste(em(x, y))) continue;
      x0 = std::min(x0, x);
      y0 = std::min(y0, y);
      x1 = std::max(x1, x);
      y1 = std::max(y1, y);
    }
  }
  if (x1 < 0) return std::nullopt;
  return Caixa{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

Rgb Captura::mediana(Caixa area) const {
  std::vector<int> r, g, b;
  for (int y = area.y; y < area.baixo(); ++y) {
    for (int x = area.x; x < area.direita(); ++x) {
      const auto c = em(x, y);
      r.push_back(c.r);
      g.push_back(c.g);
      b.push_back(c.b);
    }
  }
  auto meio = [](std::vector<int>& v) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
  };
  return {meio(r), meio(g), meio(b)};
}

std::vector<int> Captura::linhas(const std::function<bool(Rgb)>& teste, Caixa area, int comprimento) const {
  std::vector<int> achadas;
  for (int y = area.y; y < area.baixo(); ++y) {
    int seguidos = 0;
    for (int x = area.x; x < area.direita() && seguidos < comprimento; ++x)
      seguidos = teste(em(x, y)) ? seguidos + 1 : 0;
    if (seguidos >= comprimento) achadas.push_back(y);
  }
  return achadas;
}

void Captura::guardar(std::string_view nome) const {
  std::filesystem::create_directories(ORBELO_CAPTURAS);
  const std::string comando = "ffmpeg -nostdin -loglevel error -y -f rawvideo -pix_fmt rgb24 -s " +
                              std::to_string(largura_) + "x" + std::to_string(altura_) + " -i - '" +
                              ORBELO_CAPTURAS + "/" + std::string(nome) + ".png'";
  Cano ffmpeg(popen(comando.c_str(), "w"), pclose);
  if (ffmpeg) std::fwrite(rgb_.data(), 1, rgb_.size(), ffmpeg.get());
}

Captura capturar() {
  Cano import(popen("import -window root -depth 8 ppm:-", "r"), pclose);
  int largura = 0, altura = 0;
  if (!import || !lerCabecalhoPpm(import.get(), largura, altura)) return {};
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(largura) * static_cast<std::size_t>(altura) * 3);
  if (std::fread(rgb.data(), 1, rgb.size(), import.get()) != rgb.size()) return {};
  return {largura, altura, std::move(rgb)};
}

std::string esperarTela(std::string_view nome, const Verificacao& verificacao,
                        std::chrono::milliseconds espera) {
  const auto limite = std::chrono::steady_clock::now() + espera;
  Captura captura;
  std::string falha;
  do {
    captura = capturar();
    falha = captura.largura() > 0 ? verificacao(captura) : "import gave no picture";
  } while (!falha.empty() && std::chrono::steady_clock::now() < limite);
  if (captura.largura() > 0) captura.guardar(nome);
  return falha;
}

bool xdotool(const std::string& argumentos) {
  return std::system(("xdotool " + argumentos + " >/dev/null 2>&1").c_str()) == 0;
}

bool semJanelaReceptor() {
  return !xdotool("search --name '^Velaro$'");
}

}  // namespace orbelo::e2e
