#include "Ping.hpp"

namespace orbelo::emissor::Ping {

namespace {

// A pong older than this is not an answer to a ping of ours.
constexpr std::chrono::seconds idaEVoltaMaxima{60};

}  // namespace

Bytes empacotar(std::chrono::steady_clock::time_point agora) {
  Bytes quadro = Protocolo::cabecalho(TipoMensagem::ping, sizeof(std::uint64_t));
  anexarBE(quadro, static_cast<std::uint64_t>(agora.time_since_epoch().count()));
  return quadro;
}

std::optional<std::chrono::nanoseconds> idaEVolta(VistaBytes pong,
                                                  std::chrono::steady_clock::time_point agora) {
  if (pong.size() != sizeof(std::uint64_t)) {
    return std::nullopt;
  }
  auto enviado = std::chrono::steady_clock::time_point(
      std::chrono::steady_clock::duration(static_cast<std::int64_t>(lerBE<std::uint64_t>(pong, 0))));
  auto decorrido = agora - enviado;
  if (decorrido < decltype(decorrido)::zero() || decorrido > idaEVoltaMaxima) {
    return std::nullopt;
  }
  return std::chrono::duration_cast<std::chrono::nanoseconds>(decorrido);
}

}  // namespace orbelo::emissor::Ping
