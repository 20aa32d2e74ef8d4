#include "DecodificadorImagemSdl.hpp"

#include <stb_image.h>
#include <tiffio.h>

#include <cstdint>
#include <cstring>

#include "CabecalhoImagem.hpp"
#include "RecursosSdl.hpp"

namespace orbelo {
namespace {

constexpr int formatosSdlImage = IMG_INIT_JPG | IMG_INIT_TIF | IMG_INIT_WEBP;

// Each format goes to its own loader: SDL_image's guessing could pick another format
// than the one whose header was checked.
SDL_Surface* carregar(FormatoImagem formato, SDL_RWops* origem) {
  switch (formato) {
    case FormatoImagem::jpeg:
      return IMG_LoadJPG_RW(origem);
    case FormatoImagem::bmp:
      return IMG_LoadBMP_RW(origem);
    case FormatoImagem::png:
    case FormatoImagem::gif:
      return nullptr;  // read by decodificarComStb instead
    case FormatoImagem::webp:
      return IMG_LoadWEBP_RW(origem);
    case FormatoImagem::tiff:
      return IMG_LoadTIF_RW(origem);
  }
  return nullptr;
}

bool cabe(int largura, int altura) {
  return largura > 0 && altura > 0 && largura <= DecodificadorImagem::ladoMaximo &&
         altura <= DecodificadorImagem::ladoMaximo;
}

struct LiberarRwops {
  void operator()(SDL_RWops* rw) const { SDL_RWclose(rw); }
};

struct LiberarStb {
  void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

// PNG and GIF go to stb_image, for damaged files any sender could send: SDL_image 2.6's
// GIF reader frees memory it never allocated, and its PNG reader ignores a short read, so a
// PNG cut after a chunk header is read for ever, libpng complaining on standard error each
// time. For a GIF, the first picture.
std::shared_ptr<const ImagemCursor> decodificarComStb(VistaBytes arquivo) {
  int largura = 0, altura = 0, canais = 0;
  const std::unique_ptr<stbi_uc, LiberarStb> pixels(
      stbi_load_from_memory(arquivo.data(), static_cast<int>(arquivo.size()), &largura, &altura, &canais, 4));
  if (!pixels || !cabe(largura, altura)) return nullptr;
  auto imagem = std::make_shared<ImagemCursor>();
  imagem->largura = largura;
  imagem->altura = altura;
  imagem->rgba.assign(pixels.get(), pixels.get() + static_cast<std::size_t>(largura) * altura * 4);
  return imagem;
}

}  // namespace

DecodificadorImagemSdl::DecodificadorImagemSdl() {
  IMG_Init(formatosSdlImage);
  // libtiff, which SDL_image uses, writes its warnings and errors to standard error.
  TIFFSetWarningHandler(nullptr);
  TIFFSetErrorHandler(nullptr);
}

DecodificadorImagemSdl::~DecodificadorImagemSdl() {
  IMG_Quit();
}

std::shared_ptr<const ImagemCursor> DecodificadorImagemSdl::decodificar(VistaBytes arquivo) const {
  if (arquivo.size() > static_cast<std::size_t>(INT32_MAX)) return nullptr;
  auto cabecalho = lerCabecalhoImagem(arquivo);
  if (!cabecalho || !cabe(cabecalho->largura, cabecalho->altura)) return nullptr;
  if (cabecalho->formato == FormatoImagem::png || cabecalho->formato == FormatoImagem::gif) {
    return decodificarComStb(arquivo);
  }

  std::unique_ptr<SDL_RWops, LiberarRwops> origem(
      SDL_RWFromConstMem(arquivo.data(), static_cast<int>(arquivo.size())));
  if (!origem) return nullptr;
  SuperficiePtr lida(carregar(cabecalho->formato, origem.get()));
  if (!lida || !cabe(lida->w, lida->h)) return nullptr;
  SuperficiePtr rgba(SDL_ConvertSurfaceFormat(lida.get(), SDL_PIXELFORMAT_RGBA32, 0));
  if (!rgba || SDL_LockSurface(rgba.get()) != 0) return nullptr;

  auto imagem = std::make_shared<ImagemCursor>();
  imagem->largura = rgba->w;
  imagem->altura = rgba->h;
  const auto linha = static_cast<std::size_t>(rgba->w) * 4;
  imagem->rgba.resize(linha * static_cast<std::size_t>(rgba->h));
  const auto* pixels = static_cast<const std::uint8_t*>(rgba->pixels);
  for (int y = 0; y < rgba->h; ++y) {
    std::memcpy(imagem->rgba.data() + linha * y, pixels + static_cast<std::size_t>(rgba->pitch) * y, linha);
  }
  SDL_UnlockSurface(rgba.get());
  return imagem;
}

}  // namespace orbelo
