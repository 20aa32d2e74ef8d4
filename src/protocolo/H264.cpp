#include "H264.hpp"

namespace orbelo::H264 {

namespace {

constexpr std::size_t tamanhoComprimento = 4;

// Where the next start code at or after `de` begins and where its unit starts.
struct CodigoInicio {
  std::size_t inicio;
  std::size_t fim;
};

std::optional<CodigoInicio> proximoCodigo(VistaBytes fluxo, std::size_t de) {
  for (std::size_t i = de; i + 3 <= fluxo.size(); ++i) {
    if (fluxo[i] == 0 && fluxo[i + 1] == 0 && fluxo[i + 2] == 1) {
      return CodigoInicio{i, i + 3};
    }
  }
  return std::nullopt;
}

}  // namespace

int tipo(VistaBytes unidade) {
  return unidade.empty() ? 0 : unidade[0] & 0x1F;
}

bool ehFatia(int tipo) {
  return tipo >= 1 && tipo <= tipoIdr;
}

std::vector<VistaBytes> dividirAnexoB(VistaBytes fluxo) {
  std::vector<VistaBytes> unidades;
  auto codigo = proximoCodigo(fluxo, 0);
  while (codigo) {
    auto seguinte = proximoCodigo(fluxo, codigo->fim);
    std::size_t fim = seguinte ? seguinte->inicio : fluxo.size();
    // Zeros before a start code are the first byte of a 4-byte start code, or padding.
    while (fim > codigo->fim && fluxo[fim - 1] == 0) {
      --fim;
    }
    if (fim > codigo->fim) {
      unidades.push_back(fluxo.subspan(codigo->fim, fim - codigo->fim));
    }
    codigo = seguinte;
  }
  return unidades;
}

Bytes prefixarComprimentos(std::span<const VistaBytes> unidades) {
  std::size_t total = 0;
  for (auto unidade : unidades) {
    total += tamanhoComprimento + unidade.size();
  }
  Bytes saida;
  saida.reserve(total);
  for (auto unidade : unidades) {
    if (unidade.empty() || tipo(unidade) == tipoDelimitador) {
      continue;
    }
    anexarBE(saida, static_cast<std::uint32_t>(unidade.size()));
    saida.insert(saida.end(), unidade.begin(), unidade.end());
  }
  return saida;
}

void atualizarParametros(std::span<const VistaBytes> unidades,
                         std::optional<Mensagens::Parametros>& parametros) {
  auto novos = parametros.value_or(Mensagens::Parametros{});
  for (auto unidade : unidades) {
    if (tipo(unidade) == tipoSps) {
      novos.sps.assign(unidade.begin(), unidade.end());
    } else if (tipo(unidade) == tipoPps) {
      novos.pps.assign(unidade.begin(), unidade.end());
    }
  }
  if (!novos.sps.empty() && !novos.pps.empty()) {
    parametros = std::move(novos);
  }
}

}  // namespace orbelo::H264
