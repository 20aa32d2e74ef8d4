#include "PainelPareamento.hpp"

#include <array>
#include <cstdint>

#include "PilhaVertical.hpp"
#include "Vistas.hpp"

namespace orbelo {
namespace {

constexpr const char* titulo = "Digite o código que aparece no MacBook";
constexpr const char* legendaHost = "Endereço do MacBook — só se ele não for encontrado sozinho";
constexpr const char* tituloOpcaoInicio = "Abrir sozinho quando o iMac ligar";
constexpr const char* tituloConectar = "Conectar";
constexpr const char* dica = "O código fica no ícone do Velaro, na barra de menus do MacBook. Esc fecha.";
constexpr const char* versao = "Velaro iMac " ORBELO_VERSAO;

constexpr float ladoIcone = 96;
constexpr float larguraCampos = 280;
constexpr float espacamento = 14;
const ImVec4 corErro{1.0f, 0.45f, 0.4f, 1.0f};
// Return confirms the form, which makes this the default button: accent-coloured.
const ImVec4 corConectar{0.04f, 0.46f, 0.92f, 1.0f};

enum Vista {
  icone,
  rotuloTitulo,
  codigo,
  legenda,
  host,
  erro,
  opcaoInicio,
  conectar,
  rotuloDica,
  rodape,
  total
};

}  // namespace

AcaoInterface desenharPainelPareamento(EstadoTela& estado, const Aparencia& aparencia, ImVec2 area) {
  if (estado.pareamentoOculto) {
    return AcaoInterface::nenhuma;
  }
  const float u = aparencia.unidades;
  const auto& f = aparencia.fontes;
  const Rotulo rotulo{f.titulo26, cinza(1), titulo};
  const CampoTexto campoCodigo{f.codigo44, "##codigo", "000 000", larguraCampos, u};
  const Rotulo rotuloLegenda{f.texto15, cinza(0.6f), legendaHost};
  const CampoTexto campoHost{f.texto20, "##host", "automático", larguraCampos, u};
  const Rotulo rotuloErro{f.texto16, corErro, estado.erroPareamento};
  const CaixaMarcacao caixa{f.texto15, tituloOpcaoInicio, u};
  const Botao botao{f.texto13, tituloConectar, corConectar, u};
  const Rotulo rotuloDicaVista{f.texto13, cinza(0.45f), dica};
  const Rotulo rotuloVersao{f.texto12, cinza(0.4f), versao};

  std::array<ItemPilha, total> itens{};
  itens[icone] = {{ladoIcone * u, ladoIcone * u}, 24 * u};
  itens[rotuloTitulo] = {rotulo.tamanho(), espacamento * u};
  itens[codigo] = {campoCodigo.tamanho(), 36 * u};
  itens[legenda] = {rotuloLegenda.tamanho(), espacamento * u};
  itens[host] = {campoHost.tamanho(), espacamento * u};
  itens[erro] = {rotuloErro.tamanho(), 28 * u, estado.erroPareamentoOculto};
  itens[opcaoInicio] = {caixa.tamanho(), espacamento * u, estado.opcaoInicioOculta};
  itens[conectar] = {botao.tamanho(), 40 * u};
  itens[rotuloDica] = {rotuloDicaVista.tamanho(), espacamento * u};
  // The desktop's package manager updates orbelo, so the footer holds the version alone.
  itens[rodape] = {rotuloVersao.tamanho(), 0};
  const auto cantos = disporPilha(itens, area);

  if (aparencia.icone) {
    ImGui::GetWindowDrawList()->AddImage(aparencia.icone, cantos[icone],
                                         {cantos[icone].x + ladoIcone * u, cantos[icone].y + ladoIcone * u});
  }
  rotulo.desenhar(cantos[rotuloTitulo]);
  campoCodigo.desenhar(cantos[codigo], estado.campoCodigo, estado.focarCodigo);
  estado.focarCodigo = false;
  rotuloLegenda.desenhar(cantos[legenda]);
  campoHost.desenhar(cantos[host], estado.campoHost, false);
  if (!estado.erroPareamentoOculto) {
    rotuloErro.desenhar(cantos[erro]);
  }
  if (!estado.opcaoInicioOculta) {
    caixa.desenhar(cantos[opcaoInicio], estado.opcaoInicio);
  }
  const bool confirmar = botao.desenhar(cantos[conectar]);
  rotuloDicaVista.desenhar(cantos[rotuloDica]);
  rotuloVersao.desenhar(cantos[rodape]);
  return confirmar ? AcaoInterface::confirmarPareamento : AcaoInterface::nenhuma;
}

}  // namespace orbelo
