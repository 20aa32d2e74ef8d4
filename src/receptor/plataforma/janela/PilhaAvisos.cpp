#include "PilhaAvisos.hpp"

#include <array>
#include <string>

#include "PilhaVertical.hpp"
#include "Vistas.hpp"

namespace orbelo {
namespace {

constexpr float espacamento = 20;
constexpr float cinzaAviso = 0.6f;
const ImVec4 corBotao = cinza(0.36f);

}  // namespace

AcaoInterface desenharPilhaAvisos(const EstadoTela& estado, const Aparencia& aparencia, ImVec2 area) {
  // While the picture plays both views are hidden: nothing to lay out, every frame.
  if (estado.pilhaAvisoOculta || (estado.avisoOculto && estado.botaoAvisoOculto)) {
    return AcaoInterface::nenhuma;
  }
  const float u = aparencia.unidades;
  const Rotulo aviso{aparencia.fontes.texto20, cinza(cinzaAviso), estado.textoAviso};
  const std::string titulo = std::string(tituloBotaoAviso) + "##aviso";
  const Botao botao{aparencia.fontes.texto13, titulo.c_str(), corBotao, u};

  const std::array itens{
      ItemPilha{aviso.tamanho(), espacamento * u, estado.avisoOculto},
      ItemPilha{botao.tamanho(), 0, estado.botaoAvisoOculto},
  };
  const auto cantos = disporPilha(itens, area);
  if (!estado.avisoOculto) {
    aviso.desenhar(cantos[0]);
  }
  if (!estado.botaoAvisoOculto && botao.desenhar(cantos[1])) {
    return AcaoInterface::abrirPareamento;
  }
  return AcaoInterface::nenhuma;
}

}  // namespace orbelo
