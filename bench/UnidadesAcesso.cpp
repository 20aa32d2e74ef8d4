#include "UnidadesAcesso.hpp"

#include <fstream>
#include <iterator>

#include "protocolo/H264.hpp"

namespace orbelo::bancada {

namespace {

// After a slice: anything but a slice, or a slice at macroblock 0 (ue(v) "1"), opens the next frame.
bool abreQuadro(VistaBytes seguinte) {
  return !H264::ehFatia(H264::tipo(seguinte)) || (seguinte.size() > 1 && (seguinte[1] & 0x80) != 0);
}

}  // namespace

std::optional<FluxoArquivo> lerFluxo(const std::filesystem::path& arquivo) {
  std::ifstream entrada(arquivo, std::ios::binary);
  if (!entrada) {
    return std::nullopt;
  }
  FluxoArquivo fluxo;
  fluxo.conteudo.assign(std::istreambuf_iterator<char>(entrada), std::istreambuf_iterator<char>());
  const VistaBytes bytes(fluxo.conteudo);
  const auto posicao = [&](VistaBytes unidade) {
    return static_cast<std::size_t>(unidade.data() - bytes.data());
  };

  const auto unidades = H264::dividirAnexoB(bytes);
  std::optional<Mensagens::Parametros> parametros;
  H264::atualizarParametros(unidades, parametros);
  // A frame's file bytes run from the end of the frame before it to the end of its last unit.
  std::size_t inicio = 0;
  std::vector<VistaBytes> atual;
  bool temFatia = false;
  for (std::size_t i = 0; i < unidades.size(); ++i) {
    const VistaBytes unidade = unidades[i];
    const int tipo = H264::tipo(unidade);
    if (tipo != H264::tipoSps && tipo != H264::tipoPps) {
      atual.push_back(unidade);
    }
    temFatia = temFatia || H264::ehFatia(tipo);
    if (temFatia && (i + 1 == unidades.size() || abreQuadro(unidades[i + 1]))) {
      const std::size_t fim = posicao(unidade) + unidade.size();
      fluxo.unidades.push_back({bytes.subspan(inicio, fim - inicio), H264::prefixarComprimentos(atual)});
      inicio = fim;
      atual.clear();
      temFatia = false;
    }
  }
  if (!parametros || fluxo.unidades.empty()) {
    return std::nullopt;
  }
  fluxo.formato =
      std::make_shared<FormatoVideo>(FormatoVideo{std::move(parametros->sps), std::move(parametros->pps)});
  return fluxo;
}

}  // namespace orbelo::bancada
