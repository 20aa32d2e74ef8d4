#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "receptor/plataforma/janela/DecodificadorImagemSdl.hpp"

namespace orbelo {
namespace {

// The most address space the process has held: a decoder that reserves memory for a
// huge picture raises it, whether it allocates through SDL or through malloc.
std::size_t picoMemoriaVirtual() {
  std::ifstream status("/proc/self/status");
  for (std::string linha; std::getline(status, linha);) {
    if (linha.starts_with("VmPeak:")) return std::stoull(linha.substr(7)) * 1024;
  }
  return 0;
}

class DecodificadorImagemSdlTeste : public ::testing::Test {
 protected:
  DecodificadorImagemSdl decodificador;
};

using Rgba = std::array<std::uint8_t, 4>;

Rgba pixel(const ImagemCursor& imagem, int x, int y) {
  auto i = (static_cast<std::size_t>(y) * imagem.largura + x) * 4;
  return {imagem.rgba[i], imagem.rgba[i + 1], imagem.rgba[i + 2], imagem.rgba[i + 3]};
}

// A PNG whose pixels tell the channels apart: red top-left, green top-right, blue
// bottom-left, half-transparent white elsewhere.
Bytes salvarPng(int largura, int altura) {
  auto* s = SDL_CreateRGBSurfaceWithFormat(0, largura, altura, 32, SDL_PIXELFORMAT_RGBA32);
  SDL_FillRect(s, nullptr, SDL_MapRGBA(s->format, 255, 255, 255, 128));
  for (const auto& [x, y, cor] :
       {std::tuple(0, 0, Rgba{255, 0, 0, 255}), std::tuple(largura - 1, 0, Rgba{0, 255, 0, 255}),
        std::tuple(0, altura - 1, Rgba{0, 0, 255, 255})}) {
    SDL_Rect r{x, y, 1, 1};
    SDL_FillRect(s, &r, SDL_MapRGBA(s->format, cor[0], cor[1], cor[2], cor[3]));
  }
  // Room for the pixels stored uncompressed, with every row's filter byte and the chunks.
  Bytes bytes(std::size_t(largura) * altura * 5 + 1024);
  SDL_RWops* destino = SDL_RWFromMem(bytes.data(), static_cast<int>(bytes.size()));
  IMG_SavePNG_RW(s, destino, 0);
  bytes.resize(static_cast<std::size_t>(SDL_RWtell(destino)));
  SDL_RWclose(destino);
  SDL_FreeSurface(s);
  return bytes;
}

// A well-formed 1x1 PNG whose header declares that size instead.
Bytes pngDeclarando(std::uint32_t largura, std::uint32_t altura) {
  Bytes png = salvarPng(1, 1), cabecalho;
  anexarBE(cabecalho, largura);
  anexarBE(cabecalho, altura);
  std::copy(cabecalho.begin(), cabecalho.end(), png.begin() + 16);
  cabecalho.clear();
  anexarBE(cabecalho, static_cast<std::uint32_t>(crc32(0, png.data() + 12, 17)));
  std::copy(cabecalho.begin(), cabecalho.end(), png.begin() + 29);
  return png;
}

// 1x1 screen with a two-colour table and a comment extension, then a picture of that size.
Bytes gifDeclarando(std::uint8_t lado1, std::uint8_t lado2) {
  return {'G', 'I', 'F', '8',   '9',   'a',   1,     0, 1,   0,   0x80, 0,    0,    255,
          0,   0,   0,   0,     0,     0x21,  0xfe,  3, 'o', 'l', 'a',  0,    0x2c, 0,
          0,   0,   0,   lado1, lado2, lado1, lado2, 0, 2,   2,   0x44, 0x01, 0,    0x3b};
}

TEST_F(DecodificadorImagemSdlTeste, PngAndGifComeOutAsRgbaRowsFromTheTopUpTo1024ASide) {
  auto imagem = decodificador.decodificar(salvarPng(5, 3));
  ASSERT_TRUE(imagem);
  EXPECT_EQ(std::pair(imagem->largura, imagem->altura), std::pair(5, 3));
  ASSERT_EQ(imagem->rgba.size(), 5u * 3 * 4);
  EXPECT_EQ(pixel(*imagem, 0, 0), (Rgba{255, 0, 0, 255}));
  EXPECT_EQ(pixel(*imagem, 4, 0), (Rgba{0, 255, 0, 255}));
  EXPECT_EQ(pixel(*imagem, 0, 2), (Rgba{0, 0, 255, 255}));
  EXPECT_EQ(pixel(*imagem, 2, 1), (Rgba{255, 255, 255, 128}));

  EXPECT_TRUE(decodificador.decodificar(salvarPng(1024, 1024)));
  EXPECT_FALSE(decodificador.decodificar(salvarPng(1025, 4)));
  EXPECT_FALSE(decodificador.decodificar(salvarPng(4, 1025)));

  // The comment extension is skipped correctly.
  imagem = decodificador.decodificar(gifDeclarando(1, 0));
  ASSERT_TRUE(imagem);
  EXPECT_EQ(pixel(*imagem, 0, 0), (Rgba{255, 0, 0, 255}));
}

TEST_F(DecodificadorImagemSdlTeste,
       HugeDamagedTruncatedOrUnknownFilesAreRefusedAtOnceUnreadAndSilentlyAndNoneCrashes) {
  const auto cortado = [](const Bytes& arquivo, std::size_t n) {
    return Bytes(arquivo.begin(), arquivo.begin() + static_cast<std::ptrdiff_t>(n));
  };
  std::vector<std::pair<std::string, Bytes>> casos = {
      {"empty", {}},
      {"unknown", Bytes(64, 'x')},
      // Cut right after the second chunk's header: SDL_image's PNG reader read the stale
      // header again for ever.
      {"PNG cut after a chunk header", cortado(pngDeclarando(8, 8), 41)},
      // 16000 squared is still within what the header reader itself accepts.
      {"PNG 16000x16000", pngDeclarando(16000, 16000)},
      {"GIF with a 60000x60000 first picture", gifDeclarando(0x60, 0xea)},
      {"GIF cut", {'G', 'I', 'F', '8', '9', 'a', 1}},
      // Lossless WebP: 14-bit width-1 and height-1 after the 0x2f signature; 16384x16384.
      {"WebP 16384x16384", {'R', 'I', 'F', 'F', 30, 0,    0,    0,    'W',  'E',  'B', 'P', 'V', 'P', '8',
                            'L', 10,  0,   0,   0,  0x2f, 0xff, 0xff, 0xff, 0x0f, 0,   0,   0,   0,   0}},
      {"WebP cut", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P'}},
      // Little-endian TIFFs with one directory of two LONG or SHORT entries.
      {"TIFF 40000x40000", {'I',  'I', 42, 0, 8, 0, 0, 0, 2, 0, 0, 1,    4,    0, 1, 0, 0, 0, 0x40,
                            0x9c, 0,   0,  1, 1, 4, 0, 1, 0, 0, 0, 0x40, 0x9c, 0, 0, 0, 0, 0, 0}},
      {"TIFF without strips", {'I', 'I', 42, 0, 8, 0, 0, 0, 2, 0, 0, 1, 3, 0, 1, 0, 0, 0, 4,
                               0,   0,   0,  1, 1, 3, 0, 1, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0}},
      {"TIFF cut", {'I', 'I', 42, 0, 0xff, 0xff, 0xff, 0x7f}},
  };
  // Inside the signature, inside the header, inside the data, before the end chunk.
  const auto png = salvarPng(8, 8);
  for (const std::size_t n : {std::size_t{8}, std::size_t{20}, png.size() / 2, png.size() - 13})
    casos.emplace_back("PNG cut at " + std::to_string(n), cortado(png, n));
  const auto picoAntes = picoMemoriaVirtual();
  std::fflush(stderr);
  const int guardado = ::dup(STDERR_FILENO);
  std::FILE* capturado = std::tmpfile();
  ::dup2(::fileno(capturado), STDERR_FILENO);
  for (const auto& [nome, arquivo] : casos) EXPECT_FALSE(decodificador.decodificar(arquivo)) << nome;
  // No colour table anywhere and LZW codes past the table: SDL_image 2.6 frees a wild pointer here.
  const Bytes gif{0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x0c, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00,
                  0x00, 0x00, 0x00, 0x0c, 0x00, 0x10, 0x00, 0x00, 0x04, 0x40, 0x10, 0xc8, 0x49, 0x65, 0xb8,
                  0x38, 0x5f, 0xc1, 0xbb, 0xe7, 0x00, 0x00, 0xff, 0x00, 0x00, 0xff, 0x00, 0x00, 0xff, 0x00,
                  0x00, 0xff, 0x00, 0x00, 0x04, 0x00, 0x00, 0x4a, 0xff, 0xff, 0xff, 0x00, 0x00, 0xff, 0x00,
                  0x00, 0x00, 0x00, 0xee, 0x00, 0x11, 0xee, 0x00, 0x11, 0xee, 0x00, 0x11, 0xee, 0x00, 0x11,
                  0xee, 0x00, 0x11, 0xee, 0x00, 0x67, 0x41, 0x4d, 0x41, 0x00, 0x43, 0x28, 0x00, 0x3b};
  const auto imagem = decodificador.decodificar(gif);
  EXPECT_TRUE(!imagem || (imagem->largura == 12 && imagem->altura == 16)) << "a damaged GIF without colours";
  std::fflush(stderr);
  ::dup2(guardado, STDERR_FILENO);
  ::close(guardado);
  EXPECT_LT(picoMemoriaVirtual() - picoAntes, std::size_t{256} << 20) << "memory reserved for a huge picture";
  EXPECT_EQ(::lseek(::fileno(capturado), 0, SEEK_END), 0) << "written on standard error";
  std::fclose(capturado);
}

}  // namespace
}  // namespace orbelo
