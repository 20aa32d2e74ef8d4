#include "Tela.hpp"

#include <cstdio>
#include <filesystem>
#include <memory>

namespace orbelo::teste {

std::string texto(const Caixa& caixa) {
  return "(" + std::to_string(caixa.x) + ", " + std::to_string(caixa.y) + ", " +
         std::to_string(caixa.largura) + " x " + std::to_string(caixa.altura) + ")";
}

std::string texto(Rgb cor) {
  return "rgb(" + std::to_string(cor.r) + ", " + std::to_string(cor.g) + ", " + std::to_string(cor.b) + ")";
}

std::optional<Caixa> Captura::extensao(const std::function<bool(Rgb)>& teste, Caixa area) const {
  int x0 = area.direita(), y0 = area.baixo(), x1 = -1, y1 = -1;
  for (int y = area.y; y < area.baixo(); ++y) {
    for (int x = area.x; x < area.direita(); ++x) {
      if (!teste(em(x, y))) {
        continue;
      }
      x0 = std::min(x0, x);
      y0 = std::min(y0, y);
      x1 = std::max(x1, x);
      y1 = std::max(y1, y);
    }
  }
  if (x1 < 0) {
    return std::nullopt;
  }
  return Caixa{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

Rgb Captura::mediana(Caixa area) const {
  const auto canal = [&](int Rgb::*membro) {
    std::vector<int> valores;
    for (int y = area.y; y < area.baixo(); ++y) {
      for (int x = area.x; x < area.direita(); ++x) {
        valores.push_back(em(x, y).*membro);
      }
    }
    const auto meio = valores.begin() + static_cast<std::ptrdiff_t>(valores.size() / 2);
    std::nth_element(valores.begin(), meio, valores.end());
    return *meio;
  };
  return {canal(&Rgb::r), canal(&Rgb::g), canal(&Rgb::b)};
}

std::vector<int> Captura::linhas(const std::function<bool(Rgb)>& teste, Caixa area, int comprimento) const {
  std::vector<int> achadas;
  for (int y = area.y; y < area.baixo(); ++y) {
    int seguidos = 0;
    for (int x = area.x; x < area.direita() && seguidos < comprimento; ++x) {
      seguidos = teste(em(x, y)) ? seguidos + 1 : 0;
    }
    if (seguidos >= comprimento) {
      achadas.push_back(y);
    }
  }
  return achadas;
}

using Cano = std::unique_ptr<FILE, int (*)(FILE*)>;

Captura capturar() {
  Cano import(popen("import -window root -depth 8 ppm:-", "r"), pclose);
  Captura captura;
  int maximo = 0;
  // "P6 <largura> <altura> 255" then the pixels.
  if (!import || std::fscanf(import.get(), "P6 %d %d %d", &captura.largura, &captura.altura, &maximo) != 3 ||
      maximo != 255 || std::fgetc(import.get()) == EOF) {
    return {};
  }
  captura.rgb.resize(static_cast<std::size_t>(captura.largura) * static_cast<std::size_t>(captura.altura) *
                     3);
  if (std::fread(captura.rgb.data(), 1, captura.rgb.size(), import.get()) != captura.rgb.size()) {
    return {};
  }
  return captura;
}

std::string esperarTela(const std::string& nome, const Verificacao& verificacao,
                        std::chrono::milliseconds espera) {
  const auto limite = std::chrono::steady_clock::now() + espera;
  Captura captura;
  std::string falha;
  do {
    captura = capturar();
    falha = captura.largura > 0 ? verificacao(captura) : "import gave no picture";
  } while (!falha.empty() && std::chrono::steady_clock::now() < limite);
  if (captura.largura > 0) {
    std::filesystem::create_directories(ORBELO_CAPTURAS);
    const std::string comando = "ffmpeg -nostdin -loglevel error -y -f rawvideo -pix_fmt rgb24 -s " +
                                std::to_string(captura.largura) + "x" + std::to_string(captura.altura) +
                                " -i - '" + ORBELO_CAPTURAS + "/" + nome + ".png'";
    Cano ffmpeg(popen(comando.c_str(), "w"), pclose);
    if (ffmpeg) {
      std::fwrite(captura.rgb.data(), 1, captura.rgb.size(), ffmpeg.get());
    }
  }
  return falha;
}

bool xdotool(const std::string& argumentos) {
  return std::system(("xdotool " + argumentos + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace orbelo::teste
