#include "DecodificadorImagemTiff.hpp"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace orbelo {
namespace {

// libtiff keeps a copy of the values of every tag of the directory it opens, known or not,
// before anything else can be looked at: a small file whose tags all point at the same data
// would cost its size once per tag. Real pointers carry a few thousand values.
constexpr std::uint64_t valoresMaximos = std::uint64_t{1} << 20;

// The most any one allocation of libtiff may take, and the most pixel data it may decode:
// a 1024x1024 picture of four 16-bit channels.
constexpr std::uint64_t bytesMaximos =
    std::uint64_t{DecodificadorImagem::ladoMaximo} * DecodificadorImagem::ladoMaximo * 8;

struct Leitura {
  VistaBytes dados;
  std::uint64_t posicao = 0;
};

Leitura& leituraDe(thandle_t leitura) {
  return *static_cast<Leitura*>(leitura);
}

tmsize_t ler(thandle_t leitura, void* destino, tmsize_t tamanho) {
  auto& [dados, posicao] = leituraDe(leitura);
  if (tamanho <= 0 || posicao >= dados.size()) {
    return 0;
  }
  const auto lidos = std::min<std::uint64_t>(static_cast<std::uint64_t>(tamanho), dados.size() - posicao);
  std::memcpy(destino, dados.data() + posicao, lidos);
  posicao += lidos;
  return static_cast<tmsize_t>(lidos);
}

tmsize_t escrever(thandle_t, void*, tmsize_t) {
  return -1;
}

toff_t buscar(thandle_t leitura, toff_t deslocamento, int origem) {
  auto& [dados, posicao] = leituraDe(leitura);
  const toff_t base = origem == SEEK_CUR ? posicao : origem == SEEK_END ? dados.size() : 0;
  return posicao = base + deslocamento;
}

int fechar(thandle_t) {
  return 0;
}

toff_t tamanho(thandle_t leitura) {
  return leituraDe(leitura).dados.size();
}

// Mapped, the file is read in place and every offset in it is checked against its size.
int mapear(thandle_t leitura, void** base, toff_t* tamanho) {
  *base = const_cast<std::uint8_t*>(leituraDe(leitura).dados.data());
  *tamanho = leituraDe(leitura).dados.size();
  return 1;
}

void desmapear(thandle_t, void*, toff_t) {}

// Handled, so that libtiff writes nothing on standard error.
int calar(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

// How many values the entries of the first directory, the one libtiff opens, hold in all;
// none when the directory is cut, which libtiff refuses too.
std::optional<std::uint64_t> valoresDoPrimeiroDiretorio(VistaBytes d) {
  const bool intel = d[0] == 'I';
  const auto numero = [&](std::uint64_t em, int bytes) {
    std::uint32_t valor = 0;
    for (int i = 0; i < bytes; ++i) {
      valor |= std::uint32_t{d[em + (intel ? i : bytes - 1 - i)]} << 8 * i;
    }
    return valor;
  };
  const std::uint64_t diretorio = numero(4, 4);
  if (diretorio > d.size() - 2) {
    return std::nullopt;
  }
  const std::uint64_t entradas = numero(diretorio, 2);
  if (entradas > (d.size() - diretorio - 2) / 12) {
    return std::nullopt;
  }
  std::uint64_t valores = 0;
  for (std::uint64_t i = 0; i < entradas; ++i) {
    valores += numero(diretorio + 2 + 12 * i + 4, 4);
  }
  return valores;
}

// The codecs libtiff runs itself, within its allocation cap. The others hand the data to
// libraries (libjpeg, libwebp, ...) that size their memory on their own.
bool compressaoAceita(TIFF* tiff) {
  std::uint16_t compressao = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compressao);
  return compressao == COMPRESSION_NONE || compressao == COMPRESSION_LZW ||
         compressao == COMPRESSION_ADOBE_DEFLATE || compressao == COMPRESSION_DEFLATE ||
         compressao == COMPRESSION_PACKBITS;
}

// Strips and tiles may reach past the picture's edges, and each is decoded whole.
bool decodificacaoCabe(TIFF* tiff) {
  const bool ladrilhos = TIFFIsTiled(tiff);
  const std::uint64_t pedaco = ladrilhos ? TIFFTileSize64(tiff) : TIFFStripSize64(tiff);
  const std::uint64_t pedacos = ladrilhos ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
  return pedaco > 0 && pedacos <= bytesMaximos / pedaco;
}

// libtiff hands alpha multiplied into the colours; the pointer is drawn, like every other
// format, with straight alpha.
std::uint8_t semAlfaMultiplicado(std::uint32_t cor, std::uint32_t alfa) {
  return static_cast<std::uint8_t>(alfa ? std::min<std::uint32_t>(255, (cor * 255 + alfa / 2) / alfa) : 0);
}

struct LiberarOpcoes {
  void operator()(TIFFOpenOptions* opcoes) const { TIFFOpenOptionsFree(opcoes); }
};

struct FecharTiff {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

}  // namespace

bool ehTiff(VistaBytes arquivo) {
  return arquivo.size() >= 8 &&
         ((arquivo[0] == 'I' && arquivo[1] == 'I' && arquivo[2] == 42 && arquivo[3] == 0) ||
          (arquivo[0] == 'M' && arquivo[1] == 'M' && arquivo[2] == 0 && arquivo[3] == 42));
}

std::shared_ptr<const ImagemCursor> decodificarTiff(VistaBytes arquivo) {
  if (!ehTiff(arquivo)) {
    return nullptr;
  }
  const auto valores = valoresDoPrimeiroDiretorio(arquivo);
  if (!valores || *valores > valoresMaximos) {
    return nullptr;
  }

  const std::unique_ptr<TIFFOpenOptions, LiberarOpcoes> opcoes(TIFFOpenOptionsAlloc());
  TIFFOpenOptionsSetMaxSingleMemAlloc(opcoes.get(), bytesMaximos);
  TIFFOpenOptionsSetErrorHandlerExtR(opcoes.get(), calar, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(opcoes.get(), calar, nullptr);
  Leitura leitura{arquivo};
  // "c": the one strip of an uncompressed picture is not cut into as many strips as its
  // declared length would make.
  const std::unique_ptr<TIFF, FecharTiff> tiff(TIFFClientOpenExt(
      "ponteiro", "rc", &leitura, ler, escrever, buscar, fechar, tamanho, mapear, desmapear, opcoes.get()));
  if (!tiff) {
    return nullptr;
  }
  std::uint32_t largura = 0, altura = 0;
  TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &largura);
  TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &altura);
  constexpr std::uint32_t lado = DecodificadorImagem::ladoMaximo;
  if (largura == 0 || altura == 0 || largura > lado || altura > lado || !compressaoAceita(tiff.get()) ||
      !decodificacaoCabe(tiff.get())) {
    return nullptr;
  }

  std::vector<std::uint32_t> raster(std::size_t{largura} * altura);
  if (!TIFFReadRGBAImageOriented(tiff.get(), largura, altura, raster.data(), ORIENTATION_TOPLEFT, 1)) {
    return nullptr;
  }
  auto imagem = std::make_shared<ImagemCursor>();
  imagem->largura = static_cast<int>(largura);
  imagem->altura = static_cast<int>(altura);
  imagem->rgba.reserve(raster.size() * 4);
  for (const auto pixel : raster) {
    const auto alfa = TIFFGetA(pixel);
    imagem->rgba.insert(
        imagem->rgba.end(),
        {semAlfaMultiplicado(TIFFGetR(pixel), alfa), semAlfaMultiplicado(TIFFGetG(pixel), alfa),
         semAlfaMultiplicado(TIFFGetB(pixel), alfa), static_cast<std::uint8_t>(alfa)});
  }
  return imagem;
}

}  // namespace orbelo
