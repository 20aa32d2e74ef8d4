#include "PainelEstatisticas.hpp"

namespace orbelo {
namespace {

constexpr float margem = 12;
constexpr float recuo = 8;
constexpr float arredondamento = 6;
constexpr ImU32 corFundo = IM_COL32(0, 0, 0, 170);
constexpr ImU32 corTexto = IM_COL32(235, 235, 235, 255);

}  // namespace

void desenharPainelEstatisticas(const EstadoTela& estado, const Aparencia& aparencia, ImDrawList& desenho) {
  if (!estado.estatisticasVisiveis || aparencia.fontes.texto13 == nullptr) {
    return;
  }
  const float u = aparencia.unidades;
  ImFont& fonte = *aparencia.fontes.texto13;
  const char* texto = estado.textoEstatisticas.c_str();
  const char* fim = texto + estado.textoEstatisticas.size();
  const ImVec2 tamanho = fonte.CalcTextSizeA(fonte.FontSize, FLT_MAX, 0, texto, fim);
  const ImVec2 canto{margem * u, margem * u};
  desenho.AddRectFilled(canto, {canto.x + tamanho.x + 2 * recuo * u, canto.y + tamanho.y + 2 * recuo * u},
                        corFundo, arredondamento * u);
  desenho.AddText(&fonte, fonte.FontSize, {canto.x + recuo * u, canto.y + recuo * u}, corTexto, texto, fim);
}

}  // namespace orbelo
