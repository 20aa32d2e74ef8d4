#include "Fontes.hpp"

#include <fontconfig/fontconfig.h>
#include <stb_truetype.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbelo {
namespace {

struct LiberarPadrao {
  void operator()(FcPattern* padrao) const { FcPatternDestroy(padrao); }
};
struct LiberarConjunto {
  void operator()(FcFontSet* conjunto) const { FcFontSetDestroy(conjunto); }
};

struct Face {
  std::string arquivo;
  int indice = 0;
  // Em size over the ascent-to-descent height that ImGui sizes fonts by.
  float emPorAltura = 1;
};

// Latin-1 for Portuguese, plus the dashes and the ellipsis of the texts.
const ImWchar faixas[] = {0x0020, 0x00FF, 0x2013, 0x2014, 0x2026, 0x2026, 0};

std::optional<float> medirEm(const std::string& arquivo, int indice) {
  std::ifstream entrada(arquivo, std::ios::binary);
  std::vector<unsigned char> dados{std::istreambuf_iterator<char>(entrada), {}};
  if (dados.empty()) {
    return std::nullopt;
  }
  const int inicio = stbtt_GetFontOffsetForIndex(dados.data(), indice);
  stbtt_fontinfo info;
  if (inicio < 0 || !stbtt_InitFont(&info, dados.data(), inicio)) {
    return std::nullopt;
  }
  return stbtt_ScaleForMappingEmToPixels(&info, 1) / stbtt_ScaleForPixelHeight(&info, 1);
}

// The best sans-serif match of that weight that ImGui's rasteriser can read.
std::optional<Face> procurarFace(int peso) {
  if (!FcInit()) {
    return std::nullopt;
  }
  std::unique_ptr<FcPattern, LiberarPadrao> padrao(
      FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif")));
  if (!padrao) {
    return std::nullopt;
  }
  FcPatternAddInteger(padrao.get(), FC_WEIGHT, peso);
  FcPatternAddInteger(padrao.get(), FC_SLANT, FC_SLANT_ROMAN);
  FcConfigSubstitute(nullptr, padrao.get(), FcMatchPattern);
  FcDefaultSubstitute(padrao.get());
  FcResult resultado;
  std::unique_ptr<FcFontSet, LiberarConjunto> candidatos(
      FcFontSort(nullptr, padrao.get(), FcFalse, nullptr, &resultado));
  if (!candidatos) {
    return std::nullopt;
  }
  for (int i = 0; i < candidatos->nfont; ++i) {
    FcChar8* formato = nullptr;
    FcChar8* arquivo = nullptr;
    int indice = 0;
    const FcPattern* fonte = candidatos->fonts[i];
    if (FcPatternGetString(fonte, FC_FONTFORMAT, 0, &formato) != FcResultMatch ||
        FcPatternGetString(fonte, FC_FILE, 0, &arquivo) != FcResultMatch) {
      continue;
    }
    std::string_view nomeFormato(reinterpret_cast<const char*>(formato));
    if (nomeFormato != "TrueType" && nomeFormato != "CFF") {
      continue;
    }
    FcPatternGetInteger(fonte, FC_INDEX, 0, &indice);
    std::string caminho(reinterpret_cast<const char*>(arquivo));
    if (auto em = medirEm(caminho, indice)) {
      return Face{caminho, indice, *em};
    }
  }
  return std::nullopt;
}

class Carregador {
 public:
  Carregador(float unidadesPorPonto, float escalaFramebuffer)
      : unidades(unidadesPorPonto), escala(escalaFramebuffer) {}

  ImFont* carregar(const std::optional<Face>& face, float pontos) {
    ImFontConfig config;
    config.OversampleH = 2;
    auto& atlas = *ImGui::GetIO().Fonts;
    if (!face) {
      // ImGui's own face lacks accents, but some text is better than none.
      config.SizePixels = pontos * unidades * escala;
      return atlas.AddFontDefault(&config);
    }
    config.FontNo = face->indice;
    return atlas.AddFontFromFileTTF(face->arquivo.c_str(), pontos * face->emPorAltura * unidades * escala,
                                    &config, faixas);
  }

 private:
  float unidades;
  float escala;
};

}  // namespace

Fontes carregarFontes(float unidadesPorPonto, float escalaFramebuffer) {
  const auto regular = procurarFace(FC_WEIGHT_REGULAR);
  const auto media = procurarFace(FC_WEIGHT_MEDIUM);
  const auto seminegrito = procurarFace(FC_WEIGHT_DEMIBOLD);
  Carregador carregador(unidadesPorPonto, escalaFramebuffer);
  Fontes fontes;
  fontes.texto12 = carregador.carregar(regular, 12);
  fontes.texto13 = carregador.carregar(regular, 13);
  fontes.texto15 = carregador.carregar(regular, 15);
  fontes.texto16 = carregador.carregar(regular, 16);
  fontes.texto20 = carregador.carregar(regular, 20);
  fontes.titulo26 = carregador.carregar(media, 26);
  fontes.codigo44 = carregador.carregar(seminegrito, 44);
  ImGui::GetIO().FontGlobalScale = 1 / escalaFramebuffer;
  return fontes;
}

}  // namespace orbelo
