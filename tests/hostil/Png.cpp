#include "Png.hpp"

#include <string_view>

namespace orbelo::hostil {
namespace {

std::uint32_t crc32(VistaBytes dados) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (const auto byte : dados) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
    }
  }
  return ~crc;
}

std::uint32_t adler32(VistaBytes dados) {
  std::uint32_t a = 1, b = 0;
  for (const auto byte : dados) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

void anexarPedaco(Bytes& arquivo, std::string_view tipo, const Bytes& conteudo) {
  anexarBE(arquivo, static_cast<std::uint32_t>(conteudo.size()));
  Bytes pedaco(tipo.begin(), tipo.end());
  pedaco.insert(pedaco.end(), conteudo.begin(), conteudo.end());
  arquivo.insert(arquivo.end(), pedaco.begin(), pedaco.end());
  anexarBE(arquivo, crc32(pedaco));
}

Bytes inicio(std::uint32_t largura, std::uint32_t altura) {
  Bytes arquivo{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes cabecalho;
  anexarBE(cabecalho, largura);
  anexarBE(cabecalho, altura);
  cabecalho.insert(cabecalho.end(), {8, 6, 0, 0, 0});  // 8 bits per channel, RGBA
  anexarPedaco(arquivo, "IHDR", cabecalho);
  return arquivo;
}

}  // namespace

Bytes png(std::uint32_t largura, std::uint32_t altura) {
  Bytes arquivo = inicio(largura, altura);

  // One row: no filter, then red. Stored uncompressed in a zlib stream.
  const Bytes linha{0, 0xFF, 0, 0, 0xFF};
  Bytes zlib{
      0x78, 0x01, 0x01, static_cast<std::uint8_t>(linha.size()), 0, static_cast<std::uint8_t>(~linha.size()),
      0xFF};
  zlib.insert(zlib.end(), linha.begin(), linha.end());
  anexarBE(zlib, adler32(linha));
  anexarPedaco(arquivo, "IDAT", zlib);
  anexarPedaco(arquivo, "IEND", {});
  return arquivo;
}

Bytes pngSemFim() {
  Bytes arquivo = inicio(8, 8);
  anexarBE(arquivo, std::uint32_t{7});
  arquivo.insert(arquivo.end(), {'t', 'I', 'M', 'E'});
  return arquivo;
}

}  // namespace orbelo::hostil
