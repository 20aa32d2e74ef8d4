#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "apoio/Apoio.hpp"
#include "hostil/ImagensHostis.hpp"
#include "receptor/plataforma/janela/DecodificadorImagemArquivo.hpp"

namespace orbelo {
namespace {

// The most address space the process has held: a decoder that reserves memory for a
// huge picture raises it, whether or not it writes to that memory.
std::size_t picoMemoriaVirtual() {
  const auto status = teste::conteudo("/proc/self/status");
  return std::stoull(status.substr(status.find("VmPeak:") + 7)) * 1024;
}

using Rgba = std::array<std::uint8_t, 4>;

Rgba pixel(const ImagemCursor& imagem, int x, int y) {
  auto i = (static_cast<std::size_t>(y) * imagem.largura + x) * 4;
  return {imagem.rgba[i], imagem.rgba[i + 1], imagem.rgba[i + 2], imagem.rgba[i + 3]};
}

// A half-transparent PNG whose pixels tell the channels, rows and columns apart: x in red, y in green.
Rgba corEm(int x, int y) {
  return {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 200, 128};
}
Bytes salvarPng(int largura, int altura) {
  Bytes linhas;
  for (int y = 0; y < altura; ++y) {
    linhas.push_back(0);  // no filter
    for (int x = 0; x < largura; ++x) {
      const Rgba cor = corEm(x, y);
      linhas.insert(linhas.end(), cor.begin(), cor.end());
    }
  }
  return teste::png(largura, altura, teste::comprimir(linhas));
}

// A grey picture in one uncompressed strip.
Bytes tiffCinza(int largura, int altura) {
  const auto l = static_cast<std::uint32_t>(largura), a = static_cast<std::uint32_t>(altura);
  const teste::EntradasTiff entradas{{256, 4, 1, l}, {257, 4, 1, a}, {258, 3, 1, 8},    {262, 3, 1, 1},
                                     {273, 4, 1, 8}, {278, 4, 1, a}, {279, 4, 1, l * a}};
  return teste::tiff(entradas, Bytes(std::size_t{l} * a));
}

// One of the pointer-image fuzz seeds.
Bytes semente(const std::string& nome) {
  return teste::lerArquivo(std::string(ORBELO_FONTE) + "/fuzz/corpus/fuzz_imagem_cursor/" + nome);
}

TEST(DecodificadorImagemArquivo, EveryFormatComesOutAsStraightRgbaRowsFromTheTopUpTo1024ASide) {
  DecodificadorImagemArquivo decodificador;
  auto imagem = decodificador.decodificar(salvarPng(5, 3));
  ASSERT_TRUE(imagem);
  ASSERT_EQ(std::tuple(imagem->largura, imagem->altura, imagem->rgba.size()), std::tuple(5, 3, 5u * 3 * 4));
  for (const auto& [x, y] : {std::pair{0, 0}, {4, 0}, {0, 2}, {3, 1}}) {
    EXPECT_EQ(pixel(*imagem, x, y), corEm(x, y));
  }

  for (const auto fazer : {&salvarPng, &tiffCinza}) {
    EXPECT_TRUE(decodificador.decodificar(fazer(1024, 1024)));
    EXPECT_FALSE(decodificador.decodificar(fazer(1025, 4)));
    EXPECT_FALSE(decodificador.decodificar(fazer(4, 1025)));
  }

  // libtiff multiplies an unassociated alpha into the colours; they come out straight.
  const teste::EntradasTiff rgba{{256, 3, 1, 1}, {257, 3, 1, 1},  {258, 3, 4, 8},
                                 {262, 3, 1, 2}, {273, 4, 1, 16}, {277, 3, 1, 4},
                                 {278, 3, 1, 1}, {279, 4, 1, 4},  {338, 3, 1, 2}};
  imagem = decodificador.decodificar(teste::tiff(rgba, Bytes{8, 0, 8, 0, 8, 0, 8, 0, 255, 255, 255, 128}));
  ASSERT_TRUE(imagem);
  EXPECT_EQ(pixel(*imagem, 0, 0), (Rgba{255, 255, 255, 128}));

  // One arrow saved in each format: the same pixels, within JPEG's loss.
  const auto seta = decodificador.decodificar(semente("seta.png"));
  ASSERT_TRUE(seta);
  for (const auto* nome : {"seta.bmp", "seta.gif", "seta.jpg", "seta-progressiva.jpg", "seta.tiff"}) {
    imagem = decodificador.decodificar(semente(nome));
    ASSERT_TRUE(imagem) << nome;
    EXPECT_TRUE(std::ranges::equal(imagem->rgba, seta->rgba, [](int a, int b) {
      return std::abs(a - b) <= 4;
    })) << nome;
  }
}

TEST(DecodificadorImagemArquivo,
     HugeDamagedTruncatedOrUnknownFilesAreRefusedAtOnceUnreadAndSilentlyAndNoneCrashes) {
  DecodificadorImagemArquivo decodificador;
  const auto cortado = [](const Bytes& arquivo, std::size_t n) {
    return Bytes(arquivo.begin(), arquivo.begin() + static_cast<std::ptrdiff_t>(n));
  };
  std::vector<std::pair<std::string, Bytes>> casos = {
      {"empty", {}},
      {"unknown", Bytes(64, 'x')},
      // Cut right after the second chunk's header: a PNG reader that ignores a short read
      // reads the stale header again for ever.
      {"PNG cut after a chunk header", cortado(teste::pngDeUmPixel(8, 8), 41)},
      // 16000 a side is within stb_image's own default limit.
      {"PNG 16000x16000", teste::pngDeUmPixel(16000, 16000)},
      // A 1x1 screen with a two-colour table, then a picture that large.
      {"GIF with a 60000x60000 first picture",
       {'G', 'I',  'F', '8', '9', 'a', 1,    0,    1,    0,    0x80, 0, 0, 255,  0,    0, 0,   0,
        0,   0x2c, 0,   0,   0,   0,   0x60, 0xea, 0x60, 0xea, 0,    2, 2, 0x44, 0x01, 0, 0x3b}},
      {"GIF cut", {'G', 'I', 'F', '8', '9', 'a', 1}},
      // Zeros inflate a thousandfold: 2 MiB of data make 2 GiB.
      {"PNG 1x1 whose data inflate to 2 GiB", teste::bombaPng(2048)},
      {"JPEG of 201 scans", semente("jpeg-varreduras")},
      // This stb_image writes past a table of more than 256 codes.
      {"JPEG whose Huffman table counts 510 codes too many", semente("jpeg-tabela-huffman-grande")},
      // Lossless WebP, a format not read: 14-bit width-1 and height-1 after the 0x2f signature.
      {"WebP 16384x16384", {'R', 'I', 'F', 'F', 30, 0,    0,    0,    'W',  'E',  'B', 'P', 'V', 'P', '8',
                            'L', 10,  0,   0,   0,  0x2f, 0xff, 0xff, 0xff, 0x0f, 0,   0,   0,   0,   0}},
      {"TIFF 40000x40000", teste::tiff({{256, 4, 1, 40000}, {257, 4, 1, 40000}})},
      {"TIFF 40000x40000 in signed entries ahead of unsigned 1x1 ones", semente("tiff-disfarcado")},
      {"TIFF 1x1 whose 1000 private tags repeat its 1 MiB of data",
       teste::tiffEtiquetasRepetidas(1000, 1024)},
      {"TIFF without strips", teste::tiff({{256, 3, 1, 4}, {257, 3, 1, 4}})},
      {"TIFF cut", {'I', 'I', 42, 0, 0xff, 0xff, 0xff, 0x7f}},
  };
  // Inside the signature, inside the header, inside the data, before the end chunk.
  const auto png = salvarPng(8, 8);
  for (const std::size_t n : {std::size_t{8}, std::size_t{20}, png.size() / 2, png.size() - 13}) {
    casos.emplace_back("PNG cut at " + std::to_string(n), cortado(png, n));
  }
  const auto picoAntes = picoMemoriaVirtual();
  ::testing::internal::CaptureStderr();
  for (const auto& [nome, arquivo] : casos) {
    EXPECT_FALSE(decodificador.decodificar(arquivo)) << nome;
  }
  // No colour table anywhere and LZW codes past the table: SDL_image 2.6 freed a wild pointer here.
  const auto imagem = decodificador.decodificar(semente("gif-sem-cores"));
  EXPECT_TRUE(!imagem || (imagem->largura == 12 && imagem->altura == 16)) << "a damaged GIF without colours";
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "written on standard error";
  EXPECT_LT(picoMemoriaVirtual() - picoAntes, std::size_t{64} << 20) << "memory reserved for a huge picture";
}

}  // namespace
}  // namespace orbelo
