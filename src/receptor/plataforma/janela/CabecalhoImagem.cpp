#include "CabecalhoImagem.hpp"

#include <stb_image.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace orbelo {
namespace {

bool comecaCom(VistaBytes dados, std::size_t em, std::string_view assinatura) {
  return dados.size() >= em + assinatura.size() &&
         std::memcmp(dados.data() + em, assinatura.data(), assinatura.size()) == 0;
}

// Caller checks the bounds.
std::uint32_t le16(VistaBytes d, std::size_t em) {
  return d[em] | d[em + 1] << 8;
}
std::uint32_t le24(VistaBytes d, std::size_t em) {
  return le16(d, em) | std::uint32_t{d[em + 2]} << 16;
}
std::uint32_t le32(VistaBytes d, std::size_t em) {
  return le16(d, em) | le16(d, em + 2) << 16;
}
std::uint32_t be16(VistaBytes d, std::size_t em) {
  return d[em] << 8 | d[em + 1];
}
std::uint32_t be32(VistaBytes d, std::size_t em) {
  return be16(d, em) << 16 | be16(d, em + 2);
}

std::optional<CabecalhoImagem> comStb(FormatoImagem formato, VistaBytes d) {
  int largura = 0, altura = 0, componentes = 0;
  if (d.size() > static_cast<std::size_t>(INT32_MAX) ||
      !stbi_info_from_memory(d.data(), static_cast<int>(d.size()), &largura, &altura, &componentes)) {
    return std::nullopt;
  }
  return CabecalhoImagem{formato, largura, altura};
}

// The decoder draws the first picture into a surface of that picture's own size, so
// the descriptor matters as much as the logical screen.
std::optional<CabecalhoImagem> lerGif(VistaBytes d) {
  if (d.size() < 13) return std::nullopt;
  auto largura = le16(d, 6), altura = le16(d, 8);
  std::size_t em = 13;
  if (d[10] & 0x80) em += 3u << ((d[10] & 7) + 1);
  while (em < d.size()) {
    switch (d[em]) {
      case 0x21:  // extension: label, then sub-blocks up to an empty one
        em += 2;
        while (em < d.size() && d[em] != 0) em += d[em] + 1;
        ++em;
        break;
      case 0x2C:
        if (em + 9 > d.size()) return std::nullopt;
        return CabecalhoImagem{FormatoImagem::gif, static_cast<int>(std::max(largura, le16(d, em + 5))),
                               static_cast<int>(std::max(altura, le16(d, em + 7)))};
      default:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

std::optional<CabecalhoImagem> lerWebp(VistaBytes d) {
  constexpr std::size_t dados = 20;
  if (d.size() < dados + 10) return std::nullopt;
  std::uint32_t largura = 0, altura = 0;
  if (comecaCom(d, 12, "VP8 ")) {
    if (d[dados + 3] != 0x9d || d[dados + 4] != 0x01 || d[dados + 5] != 0x2a) return std::nullopt;
    largura = le16(d, dados + 6) & 0x3fff;
    altura = le16(d, dados + 8) & 0x3fff;
  } else if (comecaCom(d, 12, "VP8L")) {
    if (d[dados] != 0x2f) return std::nullopt;
    auto bits = le32(d, dados + 1);
    largura = (bits & 0x3fff) + 1;
    altura = ((bits >> 14) & 0x3fff) + 1;
  } else if (comecaCom(d, 12, "VP8X")) {
    largura = le24(d, dados + 4) + 1;
    altura = le24(d, dados + 7) + 1;
  } else {
    return std::nullopt;
  }
  return CabecalhoImagem{FormatoImagem::webp, static_cast<int>(largura), static_cast<int>(altura)};
}

// Width and length from the first directory, the one the decoder reads.
std::optional<CabecalhoImagem> lerTiff(VistaBytes d) {
  const bool intel = d[0] == 'I';
  auto u16 = [&](std::size_t em) { return intel ? le16(d, em) : be16(d, em); };
  auto u32 = [&](std::size_t em) { return intel ? le32(d, em) : be32(d, em); };
  std::size_t diretorio = u32(4);
  if (diretorio > d.size() || d.size() - diretorio < 2) return std::nullopt;
  std::size_t entradas = u16(diretorio);
  if ((d.size() - diretorio - 2) / 12 < entradas) return std::nullopt;
  std::optional<std::uint32_t> largura, altura;
  for (std::size_t i = 0; i < entradas; ++i) {
    std::size_t e = diretorio + 2 + i * 12;
    auto tag = u16(e), tipo = u16(e + 2);
    if (u32(e + 4) != 1 || (tipo != 3 && tipo != 4)) continue;
    std::uint32_t valor = tipo == 3 ? u16(e + 8) : u32(e + 8);
    // A repeated tag counts with its largest value: never trust the smaller one.
    if (tag == 256) largura = std::max(largura.value_or(0), valor);
    if (tag == 257) altura = std::max(altura.value_or(0), valor);
  }
  if (!largura || !altura || *largura > INT32_MAX || *altura > INT32_MAX) return std::nullopt;
  return CabecalhoImagem{FormatoImagem::tiff, static_cast<int>(*largura), static_cast<int>(*altura)};
}

}  // namespace

std::optional<CabecalhoImagem> lerCabecalhoImagem(VistaBytes d) {
  if (comecaCom(d, 0, "\x89PNG\r\n\x1a\n")) return comStb(FormatoImagem::png, d);
  if (comecaCom(d, 0, "\xff\xd8\xff")) return comStb(FormatoImagem::jpeg, d);
  if (comecaCom(d, 0, "BM")) return comStb(FormatoImagem::bmp, d);
  if (comecaCom(d, 0, "GIF87a") || comecaCom(d, 0, "GIF89a")) return lerGif(d);
  if (comecaCom(d, 0, "RIFF") && comecaCom(d, 8, "WEBP")) return lerWebp(d);
  const bool tiffIntel = comecaCom(d, 0, "II*") && d.size() >= 8 && d[3] == 0;
  const bool tiffMotorola = comecaCom(d, 0, "MM") && d.size() >= 8 && d[2] == 0 && d[3] == '*';
  if (tiffIntel || tiffMotorola) return lerTiff(d);
  return std::nullopt;
}

}  // namespace orbelo
