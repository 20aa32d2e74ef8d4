#pragma once

// Image files as a hostile sender makes them, built here rather than stored: the worst
// of them inflate to gigabytes.
#include <zlib.h>

#include <array>
#include <string_view>
#include <vector>

#include "protocolo/Protocolo.hpp"

namespace orbelo::teste {

inline Bytes comprimir(VistaBytes dados) {
  Bytes saida(compressBound(dados.size()));
  uLongf tamanho = saida.size();
  compress(saida.data(), &tamanho, dados.data(), dados.size());
  saida.resize(tamanho);
  return saida;
}

// A zlib stream of `mib` MiB of zeros, about a thousand times smaller: one fully flushed
// block of a MiB, repeated. Adler-32 of n zeros is (n mod 65521) << 16 | 1.
inline Bytes zerosComprimidos(std::size_t mib) {
  const Bytes zeros(std::size_t{1} << 20);
  z_stream z{};
  deflateInit(&z, Z_BEST_COMPRESSION);
  const auto bloco = [&] {
    Bytes saida(deflateBound(&z, zeros.size()));
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(zeros.size());
    z.next_out = saida.data();
    z.avail_out = static_cast<uInt>(saida.size());
    deflate(&z, Z_FULL_FLUSH);
    saida.resize(saida.size() - z.avail_out);
    return saida;
  };
  Bytes fluxo = bloco();  // with the zlib header
  const Bytes repetido = bloco();
  deflateEnd(&z);
  for (std::size_t i = 1; i < mib; ++i) {
    fluxo.insert(fluxo.end(), repetido.begin(), repetido.end());
  }
  fluxo.insert(fluxo.end(), {0x03, 0x00});  // an empty final block
  anexarBE(fluxo, static_cast<std::uint32_t>((mib << 20) % 65521 << 16 | 1));
  return fluxo;
}

// An 8-bit RGBA PNG declaring `largura` by `altura`, with `idat` as its one data chunk.
inline Bytes png(std::uint32_t largura, std::uint32_t altura, VistaBytes idat) {
  Bytes arquivo{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  const auto pedaco = [&arquivo](std::string_view tipo, VistaBytes conteudo) {
    anexarBE(arquivo, static_cast<std::uint32_t>(conteudo.size()));
    const auto inicio = arquivo.size();
    arquivo.insert(arquivo.end(), tipo.begin(), tipo.end());
    arquivo.insert(arquivo.end(), conteudo.begin(), conteudo.end());
    anexarBE(arquivo, static_cast<std::uint32_t>(crc32(0, arquivo.data() + inicio, arquivo.size() - inicio)));
  };
  Bytes cabecalho;
  anexarBE(cabecalho, largura);
  anexarBE(cabecalho, altura);
  cabecalho.insert(cabecalho.end(), {8, 6, 0, 0, 0});
  pedaco("IHDR", cabecalho);
  pedaco("IDAT", idat);
  pedaco("IEND", {});
  return arquivo;
}

// A red pixel in a PNG declaring `largura` by `altura`: a picture at 1x1, a lie at any other
// size.
inline Bytes pngDeUmPixel(std::uint32_t largura = 1, std::uint32_t altura = 1) {
  return png(largura, altura, comprimir(Bytes{0, 0xFF, 0, 0, 0xFF}));
}

// A 1x1 PNG whose data inflates to `mib` MiB.
inline Bytes bombaPng(std::size_t mib) {
  return png(1, 1, zerosComprimidos(mib));
}

// Directory entries: {tag, type, count, value}.
using EntradasTiff = std::vector<std::array<std::uint32_t, 4>>;

// A little-endian TIFF: `dados` at offset 8, then one directory of `entradas`.
inline Bytes tiff(const EntradasTiff& entradas, VistaBytes dados = {}) {
  Bytes arquivo{'I', 'I', 42, 0};
  const auto anexarLE = [&arquivo](std::uint32_t valor, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      arquivo.push_back(static_cast<std::uint8_t>(valor >> 8 * i));
    }
  };
  anexarLE(static_cast<std::uint32_t>(8 + dados.size()), 4);
  arquivo.insert(arquivo.end(), dados.begin(), dados.end());
  anexarLE(static_cast<std::uint32_t>(entradas.size()), 2);
  for (const auto& [etiqueta, tipo, quantidade, valor] : entradas) {
    anexarLE(etiqueta, 2);
    anexarLE(tipo, 2);
    anexarLE(quantidade, 4);
    anexarLE(valor, 4);
  }
  anexarLE(0, 4);
  return arquivo;
}

// A grey 1x1 picture, its one byte at offset 8.
inline const EntradasTiff entradasTiff1x1{{256, 3, 1, 1}, {257, 3, 1, 1}, {258, 3, 1, 8}, {262, 3, 1, 1},
                                          {273, 4, 1, 8}, {278, 3, 1, 1}, {279, 4, 1, 1}};

// A 1x1 TIFF whose `etiquetas` private tags each hold all of its `kib` KiB of data again.
inline Bytes tiffEtiquetasRepetidas(std::uint32_t etiquetas, std::uint32_t kib) {
  auto entradas = entradasTiff1x1;
  for (std::uint32_t i = 0; i < etiquetas; ++i) {
    entradas.push_back({40000 + i, 4, kib << 8, 8});
  }
  return tiff(entradas, Bytes(std::size_t{kib} << 10));
}

}  // namespace orbelo::teste
