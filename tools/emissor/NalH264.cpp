#include "NalH264.hpp"

namespace orbelo::emissor::NalH264 {

namespace {

// Position just past the next start code at or after `de`, and where that start code begins.
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

std::vector<VistaBytes> dividirAnexoB(VistaBytes fluxo) {
  std::vector<VistaBytes> unidades;
  auto codigo = proximoCodigo(fluxo, 0);
  while (codigo) {
    auto seguinte = proximoCodigo(fluxo, codigo->fim);
    std::size_t fim = seguinte ? seguinte->inicio : fluxo.size();
    // Zeros before a start code are the fourth byte of a long start code or trailing padding.
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

int tipo(VistaBytes unidade) {
  return unidade.empty() ? 0 : unidade[0] & 0x1F;
}

Bytes prefixarComprimentos(const std::vector<VistaBytes>& unidades) {
  std::size_t total = 0;
  for (auto u : unidades) {
    total += 4 + u.size();
  }
  Bytes saida;
  saida.reserve(total);
  for (auto u : unidades) {
    if (u.empty() || tipo(u) == tipoDelimitador) {
      continue;
    }
    anexarBE(saida, static_cast<std::uint32_t>(u.size()));
    saida.insert(saida.end(), u.begin(), u.end());
  }
  return saida;
}

bool atualizarParametros(const std::vector<VistaBytes>& unidades, std::optional<ParametrosH264>& parametros) {
  ParametrosH264 novos = parametros.value_or(ParametrosH264{});
  for (auto u : unidades) {
    if (tipo(u) == tipoSps) {
      novos.sps.assign(u.begin(), u.end());
    } else if (tipo(u) == tipoPps) {
      novos.pps.assign(u.begin(), u.end());
    }
  }
  if (novos.sps.empty() || novos.pps.empty() || novos == parametros) {
    return false;
  }
  parametros = std::move(novos);
  return true;
}

}  // namespace orbelo::emissor::NalH264
