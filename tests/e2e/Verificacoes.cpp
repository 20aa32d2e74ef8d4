#include <algorithm>
#include <cmath>

#include "e2e/Caso.hpp"

namespace orbelo::teste {

namespace {

// The sender's six bands, left to right: (U, V) over a luma ramp running from 16 to 235
// along every diagonal, so each band's median pixel is its colour at middle luma.
constexpr std::array<std::array<int, 2>, 6> faixasPadrao{
    {{84, 255}, {44, 21}, {255, 107}, {128, 128}, {212, 235}, {16, 146}}};

const Rgb cinzaAviso{153, 153, 153};
const Rgb corBotaoAviso{92, 92, 92};
const Rgb vermelhoErro{255, 115, 102};
const auto branco = [](Rgb c) { return c == Rgb{255, 255, 255}; };

// An untagged stream is BT.709 limited range.
Rgb bt709Limitado(double y, double u, double v) {
  const double luma = (y - 16) / 219;
  const double cb = (u - 128) / 224;
  const double cr = (v - 128) / 224;
  auto canal = [](double valor) { return static_cast<int>(std::lround(std::clamp(valor, 0.0, 1.0) * 255)); };
  return {canal(luma + 1.5748 * cr), canal(luma - 0.1873 * cb - 0.4681 * cr), canal(luma + 1.8556 * cb)};
}

// A button of colour `cor` in the window: the rows with runs of it at least `comprimento` long.
std::optional<Caixa> botaoEm(const Captura& tela, Rgb cor, int tolerancia, int comprimento) {
  const auto janela = tela.janelaComum();
  const auto desta = [&](Rgb c) { return perto(c, cor, tolerancia); };
  const auto linhas = tela.linhas(desta, janela, comprimento);
  if (linhas.empty()) {
    return std::nullopt;
  }
  return tela.extensao(desta, {janela.x, linhas.front(), janela.largura, linhas.back() - linhas.front() + 1});
}

// The picture fills exactly `video`: everything else on the screen is black.
std::string ocupa(const Captura& tela, Caixa video) {
  const auto extensao = tela.extensao([](Rgb c) { return c != Rgb{}; }, {0, 0, tela.largura, tela.altura});
  if (!extensao || !perto(*extensao, video, 1)) {
    return "picture at " + (extensao ? texto(*extensao) : "none") + ", expected at " + texto(video);
  }
  return {};
}

std::string faixasEm(const Captura& tela, Caixa video) {
  std::array<Rgb, faixasPadrao.size()> esperadas;
  std::transform(faixasPadrao.begin(), faixasPadrao.end(), esperadas.begin(),
                 [](const auto& uv) { return bt709Limitado(125.5, uv[0], uv[1]); });
  for (std::size_t k = 0; k < esperadas.size(); ++k) {
    const int centro = video.x + video.largura * static_cast<int>(2 * k + 1) / 12;
    const auto vista = tela.mediana({centro - 8, video.y + 4, 16, video.altura - 8});
    const auto maisPerto = std::min_element(esperadas.begin(), esperadas.end(), [&](Rgb a, Rgb b) {
      return distancia(a, vista) < distancia(b, vista);
    });
    // The bouncing square and the pointer move the median a little; a wrong matrix,
    // swapped chroma or a shifted picture move it far.
    if (maisPerto != esperadas.begin() + static_cast<std::ptrdiff_t>(k) ||
        distancia(vista, esperadas[k]) > 48) {
      return "band " + std::to_string(k + 1) + " is " + texto(vista) + ", expected about " +
             texto(esperadas[k]);
    }
  }
  return {};
}

}  // namespace

Verificacao padraoDoEmissor(Caixa video) {
  return [video](const Captura& tela) {
    auto falha = ocupa(tela, video);
    return falha.empty() ? faixasEm(tela, video) : falha;
  };
}

Verificacao padraoEmMovimento(Caixa video) {
  return [video, antes = capturar()](const Captura& tela) -> std::string {
    long mudaram = 0;
    for (int y = video.y; y < video.baixo(); y += 4) {
      for (int x = video.x; x < video.direita(); x += 4) {
        mudaram += perto(tela.em(x, y), antes.em(x, y), 8) ? 0 : 1;
      }
    }
    if (mudaram * 16 < static_cast<long>(video.largura) * video.altura / 5) {
      return "the picture does not move";
    }
    return padraoDoEmissor(video)(tela);
  };
}

FluxoH264 quadrantes(const PastaTemporaria& pasta, int quadros) {
  std::string filtro;
  for (std::size_t i = 0; i < coresQuadrantes.size(); ++i) {
    char cor[64];
    std::snprintf(cor, sizeof cor, "color=c=0x%02X%02X%02X:s=320x240:r=10[q%zu];", coresQuadrantes[i].r,
                  coresQuadrantes[i].g, coresQuadrantes[i].b, i);
    filtro += cor;
  }
  return codificar(pasta,
                   filtro +
                       "[q0][q1]hstack[cima];[q2][q3]hstack[baixo];[cima][baixo]vstack,"
                       "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p",
                   "-frames:v " + std::to_string(quadros) +
                       " -colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv");
}

Verificacao cursorEm(Caixa cursor, Caixa video) {
  return [cursor, video](const Captura& tela) {
    const auto visto = tela.extensao([](Rgb c) { return perto(c, magenta, 40); }, tela.janelaComum());
    if (!visto) {
      return std::string("no pointer");
    }
    if (!perto(*visto, cursor, 1)) {
      return "pointer at " + texto(*visto) + ", expected at " + texto(cursor);
    }
    auto falha = ocupa(tela, video);
    const int meiaLargura = video.largura / 2;
    const int meiaAltura = video.altura / 2;
    for (std::size_t i = 0; falha.empty() && i < coresQuadrantes.size(); ++i) {
      // Inside the quadrant, clear of its edges.
      const auto vista = tela.mediana({video.x + static_cast<int>(i % 2) * meiaLargura + 12,
                                       video.y + static_cast<int>(i / 2) * meiaAltura + 12, meiaLargura - 24,
                                       meiaAltura - 24});
      if (!perto(vista, coresQuadrantes[i], 6)) {
        falha = "quadrant " + std::to_string(i + 1) + " is " + texto(vista) + ", expected " +
                texto(coresQuadrantes[i]);
      }
    }
    return falha;
  };
}

Verificacao painel(bool comErro) {
  return [comErro](const Captura& tela) -> std::string {
    const auto janela = tela.janelaComum();
    const auto botao = botaoEm(tela, azulConectar, 3, 60);
    if (!botao) {
      return "no Conectar button";
    }
    const auto erro = tela.extensao([](Rgb c) { return perto(c, vermelhoErro, 3); }, janela);
    if (erro.has_value() != comErro) {
      return comErro ? "no error line" : "an error line shows";
    }
    if (!tela.extensao(branco, {janela.x, janela.y, janela.largura, botao->y - janela.y})) {
      return "no title above the fields";
    }
    const auto tudo = tela.extensao([](Rgb c) { return c != Rgb{}; }, janela);
    if (tudo->y <= janela.y || tudo->baixo() >= janela.baixo()) {
      return "the panel does not fit the window";
    }
    if (std::abs(tudo->x + tudo->largura / 2 - (janela.x + janela.largura / 2)) > 3 ||
        std::abs(tudo->y + tudo->altura / 2 - (janela.y + janela.altura / 2)) > 4) {
      return "panel off centre at " + texto(*tudo);
    }
    return {};
  };
}

Verificacao soAviso() {
  return [](const Captura& tela) -> std::string {
    const auto janela = tela.janelaComum();
    if (const auto cor = tela.extensao([](Rgb c) { return c.r != c.g || c.g != c.b; }, janela)) {
      return "colour in the window at " + texto(*cor);
    }
    if (!tela.extensao([](Rgb c) { return c == cinzaAviso; }, janela)) {
      return "no notice text";
    }
    return {};
  };
}

std::optional<Caixa> botaoAviso(const Captura& tela) {
  return botaoEm(tela, corBotaoAviso, 2, 100);
}

}  // namespace orbelo::teste
