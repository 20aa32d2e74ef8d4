#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "receptor/plataforma/janela/DecodificadorImagemSdl.hpp"

namespace orbelo {
namespace {

// SDL allocates decoded pictures through its own allocator: watching it shows
// whether a decoder was ever asked for a picture's memory.
std::atomic<std::size_t> maiorPedido{0};

void anotar(std::size_t tamanho) {
  auto atual = maiorPedido.load();
  while (tamanho > atual && !maiorPedido.compare_exchange_weak(atual, tamanho)) {
  }
}
void* alocar(std::size_t n) {
  anotar(n);
  return std::malloc(n);
}
void* alocarZerado(std::size_t n, std::size_t tamanho) {
  anotar(n * tamanho);
  return std::calloc(n, tamanho);
}
void* realocar(void* p, std::size_t n) {
  anotar(n);
  return std::realloc(p, n);
}

class DecodificadorImagemSdlTeste : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { SDL_SetMemoryFunctions(alocar, alocarZerado, realocar, std::free); }
  void SetUp() override { maiorPedido = 0; }

  DecodificadorImagemSdl decodificador;
};

std::uint32_t crc32(const Bytes& dados, std::size_t inicio) {
  std::uint32_t crc = 0xffffffff;
  for (std::size_t i = inicio; i < dados.size(); ++i) {
    crc ^= dados[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320 & (0u - (crc & 1)));
  }
  return ~crc;
}

void anexarPedaco(Bytes& png, const char* tipo, const Bytes& conteudo) {
  anexarBE(png, static_cast<std::uint32_t>(conteudo.size()));
  Bytes pedaco(tipo, tipo + 4);
  pedaco.insert(pedaco.end(), conteudo.begin(), conteudo.end());
  png.insert(png.end(), pedaco.begin(), pedaco.end());
  anexarBE(png, crc32(pedaco, 0));
}

// A well-formed PNG header for a picture of that size, with a little image data.
Bytes pngDeclarando(std::uint32_t largura, std::uint32_t altura) {
  Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  Bytes cabecalho;
  anexarBE(cabecalho, largura);
  anexarBE(cabecalho, altura);
  cabecalho.insert(cabecalho.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA
  anexarPedaco(png, "IHDR", cabecalho);
  anexarPedaco(png, "IDAT", {0x78, 0x9c, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01});
  anexarPedaco(png, "IEND", {});
  return png;
}

Bytes lerArquivo(const std::filesystem::path& caminho) {
  std::ifstream entrada(caminho, std::ios::binary);
  return Bytes{std::istreambuf_iterator<char>(entrada), {}};
}

// A picture whose pixels tell the channels apart: red top-left, green top-right,
// blue bottom-left, half-transparent white elsewhere.
SDL_Surface* quadriculado(int largura, int altura) {
  auto* s = SDL_CreateRGBSurfaceWithFormat(0, largura, altura, 32, SDL_PIXELFORMAT_RGBA32);
  SDL_FillRect(s, nullptr, SDL_MapRGBA(s->format, 255, 255, 255, 128));
  SDL_Rect r{0, 0, 1, 1};
  SDL_FillRect(s, &r, SDL_MapRGBA(s->format, 255, 0, 0, 255));
  r.x = largura - 1;
  SDL_FillRect(s, &r, SDL_MapRGBA(s->format, 0, 255, 0, 255));
  r = {0, altura - 1, 1, 1};
  SDL_FillRect(s, &r, SDL_MapRGBA(s->format, 0, 0, 255, 255));
  return s;
}

Bytes salvarPng(int largura, int altura) {
  auto* superficie = quadriculado(largura, altura);
  auto caminho =
      std::filesystem::temp_directory_path() / ("orbelo-teste-" + std::to_string(getpid()) + ".png");
  IMG_SavePNG(superficie, caminho.c_str());
  SDL_FreeSurface(superficie);
  auto bytes = lerArquivo(caminho);
  std::filesystem::remove(caminho);
  return bytes;
}

std::array<std::uint8_t, 4> pixel(const ImagemCursor& imagem, int x, int y) {
  auto i = (static_cast<std::size_t>(y) * imagem.largura + x) * 4;
  return {imagem.rgba[i], imagem.rgba[i + 1], imagem.rgba[i + 2], imagem.rgba[i + 3]};
}

using Rgba = std::array<std::uint8_t, 4>;

TEST_F(DecodificadorImagemSdlTeste, ARealPngComesOutAsRgbaRowsFromTheTop) {
  auto imagem = decodificador.decodificar(salvarPng(5, 3));
  ASSERT_TRUE(imagem);
  EXPECT_EQ(imagem->largura, 5);
  EXPECT_EQ(imagem->altura, 3);
  ASSERT_EQ(imagem->rgba.size(), 5u * 3 * 4);
  EXPECT_EQ(pixel(*imagem, 0, 0), (Rgba{255, 0, 0, 255}));
  EXPECT_EQ(pixel(*imagem, 4, 0), (Rgba{0, 255, 0, 255}));
  EXPECT_EQ(pixel(*imagem, 0, 2), (Rgba{0, 0, 255, 255}));
  EXPECT_EQ(pixel(*imagem, 2, 1), (Rgba{255, 255, 255, 128}));
}

TEST_F(DecodificadorImagemSdlTeste, APictureOf1024IsTakenAndOneOf1025EitherWayIsRefused) {
  EXPECT_TRUE(decodificador.decodificar(salvarPng(1024, 1024)));
  EXPECT_FALSE(decodificador.decodificar(salvarPng(1025, 4)));
  EXPECT_FALSE(decodificador.decodificar(salvarPng(4, 1025)));
}

TEST_F(DecodificadorImagemSdlTeste, PngsDeclaringHugeSizesAreRefusedWithoutAskingForTheirMemory) {
  // 16000 squared is still within what the header reader itself accepts.
  for (auto [largura, altura] :
       {std::pair{50000u, 50000u}, std::pair{16000u, 16000u}, std::pair{2000u, 1u}}) {
    maiorPedido = 0;
    EXPECT_FALSE(decodificador.decodificar(pngDeclarando(largura, altura))) << largura << "x" << altura;
    EXPECT_LT(maiorPedido.load(), 4000u) << largura << "x" << altura;
  }
}

TEST_F(DecodificadorImagemSdlTeste, AGifWithASmallScreenButAHugeFirstPictureIsRefused) {
  // 1x1 screen with a two-colour table, a comment extension, then a 60000x60000 picture.
  Bytes gif{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 255, 0, 0, 0, 0, 0};
  gif.insert(gif.end(), {0x21, 0xfe, 3, 'o', 'l', 'a', 0});
  gif.insert(gif.end(), {0x2c, 0, 0, 0, 0, 0x60, 0xea, 0x60, 0xea, 0, 2, 2, 0x44, 0x01, 0, 0x3b});
  EXPECT_FALSE(decodificador.decodificar(gif));

  // The same file with a 1x1 picture decodes: the extension was skipped correctly.
  gif[gif.size() - 11] = 1;
  gif[gif.size() - 10] = 0;
  gif[gif.size() - 9] = 1;
  gif[gif.size() - 8] = 0;
  auto imagem = decodificador.decodificar(gif);
  ASSERT_TRUE(imagem);
  EXPECT_EQ(pixel(*imagem, 0, 0), (Rgba{255, 0, 0, 255}));
}

TEST_F(DecodificadorImagemSdlTeste, ADamagedGifWithoutAColourTableIsReadWithoutCrashing) {
  // No colour table anywhere and LZW codes past the table: SDL_image 2.6 frees a wild pointer here.
  const Bytes gif{0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x0c, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00,
                  0x00, 0x00, 0x00, 0x0c, 0x00, 0x10, 0x00, 0x00, 0x04, 0x40, 0x10, 0xc8, 0x49, 0x65, 0xb8,
                  0x38, 0x5f, 0xc1, 0xbb, 0xe7, 0x00, 0x00, 0xff, 0x00, 0x00, 0xff, 0x00, 0x00, 0xff, 0x00,
                  0x00, 0xff, 0x00, 0x00, 0x04, 0x00, 0x00, 0x4a, 0xff, 0xff, 0xff, 0x00, 0x00, 0xff, 0x00,
                  0x00, 0x00, 0x00, 0xee, 0x00, 0x11, 0xee, 0x00, 0x11, 0xee, 0x00, 0x11, 0xee, 0x00, 0x11,
                  0xee, 0x00, 0x11, 0xee, 0x00, 0x67, 0x41, 0x4d, 0x41, 0x00, 0x43, 0x28, 0x00, 0x3b};
  const auto imagem = decodificador.decodificar(gif);
  if (imagem) {
    EXPECT_EQ(imagem->largura, 12);
    EXPECT_EQ(imagem->altura, 16);
  }
}

TEST_F(DecodificadorImagemSdlTeste, WebpAndTiffHeadersDeclaringHugePicturesAreRefusedWithoutDecoding) {
  // Lossless WebP: 14-bit width-1 and height-1 after the 0x2f signature; 16384x16384.
  Bytes webp{'R', 'I', 'F', 'F', 30, 0,    0,    0,    'W',  'E',  'B', 'P', 'V', 'P', '8',
             'L', 10,  0,   0,   0,  0x2f, 0xff, 0xff, 0xff, 0x0f, 0,   0,   0,   0,   0};
  EXPECT_FALSE(decodificador.decodificar(webp));
  // Little-endian TIFF whose one directory says 40000 by 40000 (LONG values).
  Bytes tiff{'I',  'I', 42, 0, 8, 0, 0, 0, 2, 0, 0, 1,    4,    0, 1, 0, 0, 0, 0x40,
             0x9c, 0,   0,  1, 1, 4, 0, 1, 0, 0, 0, 0x40, 0x9c, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(decodificador.decodificar(tiff));
  EXPECT_LT(maiorPedido.load(), 1u << 20);
}

TEST_F(DecodificadorImagemSdlTeste, EmptyUnknownAndTruncatedFilesAreRefused) {
  EXPECT_FALSE(decodificador.decodificar(Bytes{}));
  EXPECT_FALSE(decodificador.decodificar(Bytes(64, 'x')));

  auto png = salvarPng(8, 8);
  for (std::size_t corte : {std::size_t{8}, std::size_t{20}, png.size() / 2, png.size() - 13}) {
    EXPECT_FALSE(decodificador.decodificar(VistaBytes(png).first(corte))) << "cut at " << corte;
  }
  // Headers cut short of the size fields.
  EXPECT_FALSE(decodificador.decodificar(Bytes{'G', 'I', 'F', '8', '9', 'a', 1}));
  EXPECT_FALSE(
      decodificador.decodificar(Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P'}));
  EXPECT_FALSE(decodificador.decodificar(Bytes{'I', 'I', 42, 0, 0xff, 0xff, 0xff, 0x7f}));
}

TEST_F(DecodificadorImagemSdlTeste, DamagedPngAndTiffFilesAreRefusedAtOnceWithoutAWordOnStandardError) {
  const auto inteiro = salvarPng(8, 8);
  const Bytes cortado(inteiro.begin(), inteiro.begin() + static_cast<std::ptrdiff_t>(inteiro.size() / 2));
  // Cut right after a chunk header: SDL_image's PNG reader ignored the short read and read
  // the stale header again for ever.
  const Bytes semFim{0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
                     0x44, 0x52, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x08, 0x08, 0x06, 0x00, 0x00,
                     0x00, 0xc4, 0x0f, 0xbe, 0x8b, 0x00, 0x00, 0x00, 0x07, 0x74, 0x49, 0x4d, 0x45};
  // Little-endian TIFF whose one directory has a size but no strips.
  const Bytes tiff{'I', 'I', 42, 0, 8, 0, 0, 0, 2, 0, 0, 1, 3, 0, 1, 0, 0, 0, 4,
                   0,   0,   0,  1, 1, 3, 0, 1, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0};

  std::fflush(stderr);
  const int guardado = ::dup(STDERR_FILENO);
  std::FILE* capturado = std::tmpfile();
  ::dup2(::fileno(capturado), STDERR_FILENO);
  std::vector<bool> recusados;
  for (const Bytes* arquivo : {&cortado, &semFim, &tiff}) {
    recusados.push_back(!decodificador.decodificar(*arquivo));
  }
  std::fflush(stderr);
  ::dup2(guardado, STDERR_FILENO);
  ::close(guardado);

  EXPECT_EQ(recusados, std::vector<bool>(3, true));
  std::rewind(capturado);
  std::string escrito;
  for (int c; (c = std::fgetc(capturado)) != EOF;) escrito.push_back(static_cast<char>(c));
  std::fclose(capturado);
  EXPECT_EQ(escrito, "");
}

}  // namespace
}  // namespace orbelo
