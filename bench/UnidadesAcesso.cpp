#include "UnidadesAcesso.hpp"

#include <fstream>
#include <iterator>

namespace orbelo::bancada {

namespace {

constexpr int tipoSps = 7;
constexpr int tipoPps = 8;

struct Nal {
  std::size_t codigo;  // where its start code begins
  std::size_t inicio;
  std::size_t fim;
};

std::vector<Nal> separarNals(VistaBytes fluxo) {
  std::vector<Nal> nals;
  for (std::size_t i = 0; i + 2 < fluxo.size(); ++i) {
    if (fluxo[i] == 0 && fluxo[i + 1] == 0 && fluxo[i + 2] == 1) {
      const std::size_t codigo = (i > 0 && fluxo[i - 1] == 0) ? i - 1 : i;
      if (!nals.empty()) {
        nals.back().fim = codigo;
      }
      nals.push_back({codigo, i + 3, fluxo.size()});
      i += 2;
    }
  }
  // Trailing zeros before a start code belong to no unit.
  for (Nal& nal : nals) {
    while (nal.fim > nal.inicio && fluxo[nal.fim - 1] == 0) {
      --nal.fim;
    }
  }
  return nals;
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

  auto formato = std::make_shared<FormatoVideo>();
  std::optional<std::size_t> inicioUnidade;
  bool temFatia = false;
  UnidadeAcesso atual;
  auto fechar = [&](std::size_t fim) {
    if (temFatia) {
      atual.anexoB = bytes.subspan(*inicioUnidade, fim - *inicioUnidade);
      fluxo.unidades.push_back(std::move(atual));
      atual = {};
      inicioUnidade.reset();
      temFatia = false;
    }
  };
  for (const Nal& nal : separarNals(bytes)) {
    if (nal.fim == nal.inicio) {
      continue;
    }
    const VistaBytes unidade = bytes.subspan(nal.inicio, nal.fim - nal.inicio);
    const int tipo = unidade[0] & 0x1F;
    const bool fatia = tipo >= 1 && tipo <= 5;
    // A slice at macroblock 0 (ue(v) "1"), or anything but a slice after one, opens the next frame.
    if (temFatia && (!fatia || (unidade.size() > 1 && (unidade[1] & 0x80) != 0))) {
      fechar(nal.codigo);
    }
    if (!inicioUnidade) {
      inicioUnidade = nal.codigo;
    }
    if (tipo == tipoSps) {
      formato->sps.assign(unidade.begin(), unidade.end());
    } else if (tipo == tipoPps) {
      formato->pps.assign(unidade.begin(), unidade.end());
    } else {
      anexarBE(atual.comprimentos, static_cast<std::uint32_t>(unidade.size()));
      atual.comprimentos.insert(atual.comprimentos.end(), unidade.begin(), unidade.end());
    }
    temFatia = temFatia || fatia;
  }
  fechar(bytes.size());
  if (formato->sps.empty() || formato->pps.empty() || fluxo.unidades.empty()) {
    return std::nullopt;
  }
  fluxo.formato = std::move(formato);
  return fluxo;
}

}  // namespace orbelo::bancada
