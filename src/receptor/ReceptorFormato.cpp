#include <cstddef>
#include <utility>

#include "Receptor.hpp"
#include "protocolo/H264.hpp"

namespace orbelo {

namespace {

// Header, profile, constraints and level: the least an SPS can be.
constexpr std::size_t tamanhoMinimoSps = 4;

}  // namespace

std::shared_ptr<const FormatoVideo> Receptor::criarFormato(VistaBytes payload) {
  auto parametros = Mensagens::Parametros::ler(payload);
  // The decoder refuses anything but an SPS followed by a PPS.
  if (!parametros || parametros->sps.size() < tamanhoMinimoSps ||
      H264::tipo(parametros->sps) != H264::tipoSps || H264::tipo(parametros->pps) != H264::tipoPps) {
    return nullptr;
  }
  return std::make_shared<const FormatoVideo>(
      FormatoVideo{std::move(parametros->sps), std::move(parametros->pps)});
}

std::optional<Amostra> Receptor::criarAmostra(Bytes quadro, std::shared_ptr<const FormatoVideo> formato) {
  if (quadro.size() < 2 || !formato) {
    return std::nullopt;
  }
  return Amostra{std::move(formato), std::move(quadro)};
}

}  // namespace orbelo
