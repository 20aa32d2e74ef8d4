// stb_image is compiled here, not taken from the system's library, so that it refuses a
// picture larger than a pointer's before allocating for it and takes all its memory from
// a fixed budget: a PNG declaring one pixel may still inflate to gigabytes.
#include "DecodificadorImagemStb.hpp"

#include <algorithm>
#include <array>
#include <climits>

#include "OrcamentoMemoria.hpp"

#define STBI_MAX_DIMENSIONS 1024
#define STBI_MALLOC(tamanho) orbelo::OrcamentoMemoria::reservar(tamanho)
#define STBI_REALLOC(bloco, tamanho) orbelo::OrcamentoMemoria::redimensionar(bloco, tamanho)
#define STBI_FREE(bloco) orbelo::OrcamentoMemoria::liberar(bloco)
#define STBI_ONLY_PNG
#define STBI_ONLY_GIF
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace orbelo {
namespace {

static_assert(STBI_MAX_DIMENSIONS == DecodificadorImagem::ladoMaximo);

// The most a decode may hold at once. A 1024x1024 PNG of 16-bit channels takes 16 MiB,
// inflated and then drawn; only an interlaced one that large takes more, and is refused.
constexpr std::size_t memoriaMaxima = std::size_t{24} << 20;

// stb_image takes for a JPEG a file whose start marker FF D8 comes after any number of
// extra FF bytes; no other format it reads starts with FF.
bool ehJpeg(VistaBytes arquivo) {
  return !arquivo.empty() && arquivo[0] == 0xFF;
}

// stb_image goes over the whole picture once for each scan of a JPEG, however little the
// scan carries: a few megabytes of empty scans take seconds. Real files have a dozen.
constexpr std::size_t varredurasMaximas = 100;

// Every scan starts with the marker FF DA, so counting those bytes anywhere in the file
// counts every scan.
bool varredurasDemais(VistaBytes arquivo) {
  std::size_t varreduras = 0;
  for (std::size_t i = 1; i < arquivo.size(); ++i) {
    varreduras += arquivo[i - 1] == 0xFF && arquivo[i] == 0xDA;
  }
  return varreduras > varredurasMaximas;
}

// This stb_image writes past its Huffman tables when a JPEG's table declares more than 256
// codes. A marker FF C4 starts a segment of tables, one after the other, each a class byte,
// 16 code counts and as many values as the counts add up to; stb_image reads the zeros past
// the end of the file. Which FF C4 it takes for a marker depends on how it reads the rest,
// so every one is checked, walking back from the end: `distancia[t]` is how far the tables
// read from offset t go before a bad one, the same for every segment that reaches t.
bool tabelaHuffmanGrandeDemais(VistaBytes arquivo) {
  constexpr std::uint32_t maximo = 256;
  constexpr std::size_t alcance = 17 + maximo + 1;  // from a good table to the next, at most
  constexpr std::uint32_t nunca = 1 << 16;          // beyond the longest segment
  const auto byte = [&](std::size_t i) -> std::uint32_t { return i < arquivo.size() ? arquivo[i] : 0; };
  std::array<std::uint32_t, alcance> distancia;  // by offset modulo alcance
  std::uint32_t codigos = 0;                     // the counts at t + 1 to t + 16
  for (std::size_t t = arquivo.size(); t-- > 0;) {
    codigos = codigos + byte(t + 1) - byte(t + 17);
    const auto proxima = t + 17 + codigos;
    distancia[t % alcance] =
        codigos > maximo
            ? 0
            : std::min(nunca,
                       17 + codigos + (proxima < arquivo.size() ? distancia[proxima % alcance] : nunca));
    const bool segmento = t >= 4 && arquivo[t - 4] == 0xFF && arquivo[t - 3] == 0xC4;
    if (segmento &&
        static_cast<int>(distancia[t % alcance]) < static_cast<int>(byte(t - 2) << 8 | byte(t - 1)) - 2) {
      return true;
    }
  }
  return false;
}

struct LiberarStb {
  void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

}  // namespace

std::shared_ptr<const ImagemCursor> decodificarStb(VistaBytes arquivo) {
  if (arquivo.size() > static_cast<std::size_t>(INT_MAX) ||
      (ehJpeg(arquivo) && (varredurasDemais(arquivo) || tabelaHuffmanGrandeDemais(arquivo)))) {
    return nullptr;
  }
  const OrcamentoMemoria orcamento(memoriaMaxima);
  int largura = 0, altura = 0, canais = 0;
  const std::unique_ptr<stbi_uc, LiberarStb> pixels(
      stbi_load_from_memory(arquivo.data(), static_cast<int>(arquivo.size()), &largura, &altura, &canais, 4));
  if (!pixels || largura <= 0 || altura <= 0) {
    return nullptr;
  }
  auto imagem = std::make_shared<ImagemCursor>();
  imagem->largura = largura;
  imagem->altura = altura;
  imagem->rgba.assign(pixels.get(), pixels.get() + static_cast<std::size_t>(largura) * altura * 4);
  return imagem;
}

}  // namespace orbelo
