#include <cstddef>
#include <cstdint>
#include <utility>

#include "Receptor.hpp"

namespace orbelo {

namespace {

constexpr std::uint8_t nalSps = 7;
constexpr std::uint8_t nalPps = 8;
// Header, profile, constraints and level: the least an SPS can be.
constexpr std::size_t tamanhoMinimoSps = 4;

std::uint8_t tipoNal(const Bytes& nal) {
  return nal.front() & 0x1F;
}

}  // namespace

std::shared_ptr<const FormatoVideo> Receptor::criarFormato(VistaBytes payload) {
  std::vector<Bytes> registros;
  std::size_t posicao = 0;
  while (registros.size() < 2 && payload.size() - posicao >= 2) {
    const auto tamanho = lerBE<std::uint16_t>(payload, posicao);
    posicao += 2;
    if (payload.size() - posicao < tamanho) {
      return nullptr;
    }
    const auto inicio = payload.begin() + static_cast<std::ptrdiff_t>(posicao);
    registros.emplace_back(inicio, inicio + tamanho);
    posicao += tamanho;
  }
  if (registros.size() != 2) {
    return nullptr;
  }
  Bytes& sps = registros[0];
  Bytes& pps = registros[1];
  // The decoder refuses anything but an SPS followed by a PPS.
  if (sps.size() < tamanhoMinimoSps || tipoNal(sps) != nalSps || pps.empty() || tipoNal(pps) != nalPps) {
    return nullptr;
  }
  return std::make_shared<const FormatoVideo>(FormatoVideo{std::move(sps), std::move(pps)});
}

std::optional<Amostra> Receptor::criarAmostra(Bytes quadro, std::shared_ptr<const FormatoVideo> formato) {
  if (quadro.size() < 2 || !formato) {
    return std::nullopt;
  }
  quadro.erase(quadro.begin());
  return Amostra{std::move(formato), std::move(quadro)};
}

}  // namespace orbelo
