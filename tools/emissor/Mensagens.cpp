#include "Mensagens.hpp"

#include <limits>

namespace orbelo::emissor::Mensagens {

namespace {

// A pong older than this is not an answer to a ping of ours.
constexpr std::chrono::seconds idaEVoltaMaxima{60};

}  // namespace

Bytes config(Tamanho tamanho) {
  Bytes payload;
  anexarBE(payload, static_cast<std::uint32_t>(tamanho.largura));
  anexarBE(payload, static_cast<std::uint32_t>(tamanho.altura));
  return Protocolo::empacotar(TipoMensagem::config, payload);
}

std::optional<Bytes> parametros(const ParametrosH264& parametros) {
  constexpr std::size_t maximo = std::numeric_limits<std::uint16_t>::max();
  if (parametros.sps.size() > maximo || parametros.pps.size() > maximo) {
    return std::nullopt;
  }
  Bytes payload;
  payload.reserve(4 + parametros.sps.size() + parametros.pps.size());
  for (const Bytes* registro : {&parametros.sps, &parametros.pps}) {
    anexarBE(payload, static_cast<std::uint16_t>(registro->size()));
    payload.insert(payload.end(), registro->begin(), registro->end());
  }
  return Protocolo::empacotar(TipoMensagem::parametros, payload);
}

Bytes quadro(const QuadroCodificado& quadro) {
  Bytes payload;
  payload.reserve(1 + quadro.unidades.size());
  payload.push_back(quadro.chave ? 1 : 0);
  payload.insert(payload.end(), quadro.unidades.begin(), quadro.unidades.end());
  return Protocolo::empacotar(TipoMensagem::quadro, payload);
}

Bytes cursor(float x, float y, bool visivel) {
  Bytes payload;
  anexarBE(payload, x);
  anexarBE(payload, y);
  payload.push_back(visivel ? 1 : 0);
  return Protocolo::empacotar(TipoMensagem::cursor, payload);
}

Bytes imagemCursor(FormaCursor forma, VistaBytes imagem) {
  Bytes payload;
  payload.reserve(16 + imagem.size());
  for (float valor : {forma.largura, forma.altura, forma.pontaX, forma.pontaY}) {
    anexarBE(payload, valor);
  }
  payload.insert(payload.end(), imagem.begin(), imagem.end());
  return Protocolo::empacotar(TipoMensagem::imagemCursor, payload);
}

Bytes ping(std::chrono::steady_clock::time_point agora) {
  Bytes payload;
  anexarBE(payload, static_cast<std::uint64_t>(agora.time_since_epoch().count()));
  return Protocolo::empacotar(TipoMensagem::ping, payload);
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

}  // namespace orbelo::emissor::Mensagens
