#include "FontePadrao.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace orbelo::emissor {

namespace {

// U and V of six colour bands across the picture.
constexpr std::array<std::array<std::uint8_t, 2>, 6> faixas{
    {{84, 255}, {44, 21}, {255, 107}, {128, 128}, {212, 235}, {16, 146}}};

// The gradient repeats every this many pixels along a diagonal.
constexpr int periodoRampa = 220;

// Position of a square that bounces between 0 and `limite`, moving `passo` per frame.
int quicar(std::int64_t numero, int passo, int limite) {
  if (limite <= 0) {
    return 0;
  }
  auto percurso = static_cast<std::int64_t>(limite) * 2;
  auto p = (numero * passo) % percurso;
  return static_cast<int>(p <= limite ? p : percurso - p);
}

}  // namespace

FontePadrao::FontePadrao(Codificador codificador, Imagem imagem, Tamanho tamanho, int quadrosPorSegundo)
    : codificador(std::move(codificador)),
      imagem(std::move(imagem)),
      tamanho_(tamanho),
      quadrosPorSegundo(quadrosPorSegundo) {
  // One row of the gradient, long enough to start it at any phase; each row is a copy of it.
  rampa.resize(static_cast<std::size_t>(tamanho.largura + periodoRampa));
  for (std::size_t x = 0; x < rampa.size(); ++x) {
    rampa[x] = static_cast<std::uint8_t>(16 + x % periodoRampa);
  }
  for (int x = 0; x < tamanho.largura / 2; ++x) {
    const auto& faixa = faixas[static_cast<std::size_t>(x * 2 * faixas.size() / tamanho.largura)];
    linhaU.push_back(faixa[0]);
    linhaV.push_back(faixa[1]);
  }
}

std::variant<std::unique_ptr<FonteVideo>, std::string> FontePadrao::abrir(Tamanho tamanho,
                                                                          int quadrosPorSegundo) {
  auto codificador = Codificador::abrir(tamanho, quadrosPorSegundo);
  if (auto* erro = std::get_if<std::string>(&codificador)) {
    return *erro;
  }
  Imagem imagem(av_frame_alloc());
  imagem->format = AV_PIX_FMT_YUV420P;
  imagem->width = tamanho.largura;
  imagem->height = tamanho.altura;
  if (av_frame_get_buffer(imagem.get(), 0) < 0) {
    return std::string("sem memória para a imagem");
  }
  return std::make_unique<FontePadrao>(std::move(std::get<Codificador>(codificador)), std::move(imagem),
                                       tamanho, quadrosPorSegundo);
}

std::chrono::nanoseconds FontePadrao::intervalo() const {
  return std::chrono::nanoseconds(std::chrono::seconds(1)) / quadrosPorSegundo;
}

void FontePadrao::desenhar() {
  const int largura = tamanho_.largura;
  const int altura = tamanho_.altura;
  const std::int64_t deslocamento = numero * 4;
  for (int y = 0; y < altura; ++y) {
    std::memcpy(imagem->data[0] + static_cast<std::ptrdiff_t>(y) * imagem->linesize[0],
                rampa.data() + (y + deslocamento) % periodoRampa, static_cast<std::size_t>(largura));
  }
  for (int y = 0; y < altura / 2; ++y) {
    std::memcpy(imagem->data[1] + static_cast<std::ptrdiff_t>(y) * imagem->linesize[1], linhaU.data(),
                linhaU.size());
    std::memcpy(imagem->data[2] + static_cast<std::ptrdiff_t>(y) * imagem->linesize[2], linhaV.data(),
                linhaV.size());
  }
  const int lado = std::max(8, std::min(largura, altura) / 6) & ~1;
  const int x0 = quicar(numero, 6, largura - lado);
  const int y0 = quicar(numero, 4, altura - lado);
  for (int y = y0; y < y0 + lado; ++y) {
    std::fill_n(imagem->data[0] + static_cast<std::ptrdiff_t>(y) * imagem->linesize[0] + x0, lado, 235);
  }
}

Lote FontePadrao::proximos(bool keyframe) {
  Lote lote;
  if (av_frame_make_writable(imagem.get()) < 0) {
    lote.erro = "sem memória para a imagem";
    return lote;
  }
  desenhar();
  ++numero;
  auto quadro = codificador.codificar(*imagem, keyframe);
  if (!quadro) {
    lote.erro = "libx264 não codificou o quadro";
    return lote;
  }
  lote.quadros.push_back(std::move(*quadro));
  return lote;
}

}  // namespace orbelo::emissor
