#include "Mensagens.hpp"

#include <cmath>
#include <initializer_list>
#include <limits>

namespace orbelo::Mensagens {

namespace {

constexpr std::uint8_t marcaSim = 1;

bool finitos(std::initializer_list<float> valores) {
  for (float valor : valores) {
    if (!std::isfinite(valor)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<Config> Config::ler(VistaBytes payload) {
  if (payload.size() < tamanho) {
    return std::nullopt;
  }
  return Config{lerBE<std::uint32_t>(payload, 0), lerBE<std::uint32_t>(payload, 4)};
}

Bytes Config::empacotar() const {
  Bytes quadro = Protocolo::cabecalho(TipoMensagem::config, tamanho);
  anexarBE(quadro, largura);
  anexarBE(quadro, altura);
  return quadro;
}

std::optional<Parametros> Parametros::ler(VistaBytes payload) {
  Parametros parametros;
  for (Bytes* registro : {&parametros.sps, &parametros.pps}) {
    if (payload.size() < 2) {
      return std::nullopt;
    }
    const std::size_t comprimento = lerBE<std::uint16_t>(payload, 0);
    if (payload.size() - 2 < comprimento) {
      return std::nullopt;
    }
    const auto conteudo = payload.subspan(2, comprimento);
    registro->assign(conteudo.begin(), conteudo.end());
    payload = payload.subspan(2 + comprimento);
  }
  return parametros;
}

std::optional<Bytes> Parametros::empacotar() const {
  constexpr std::size_t maximo = std::numeric_limits<std::uint16_t>::max();
  if (sps.size() > maximo || pps.size() > maximo) {
    return std::nullopt;
  }
  Bytes quadro = Protocolo::cabecalho(TipoMensagem::parametros, 4 + sps.size() + pps.size());
  for (const Bytes* registro : {&sps, &pps}) {
    anexarBE(quadro, static_cast<std::uint16_t>(registro->size()));
    quadro.insert(quadro.end(), registro->begin(), registro->end());
  }
  return quadro;
}

std::optional<Quadro> Quadro::ler(VistaBytes payload) {
  if (payload.size() < tamanhoMinimo) {
    return std::nullopt;
  }
  return Quadro{payload[0] == marcaSim, payload.subspan(1)};
}

Bytes Quadro::empacotar() const {
  Bytes quadro = Protocolo::cabecalho(TipoMensagem::quadro, 1 + unidades.size());
  quadro.push_back(chave ? marcaSim : 0);
  quadro.insert(quadro.end(), unidades.begin(), unidades.end());
  return quadro;
}

std::optional<TelaReceptor> TelaReceptor::ler(VistaBytes payload) {
  if (payload.size() < tamanho) {
    return std::nullopt;
  }
  return TelaReceptor{lerBE<std::uint32_t>(payload, 0), lerBE<std::uint32_t>(payload, 4),
                      lerBE<std::uint32_t>(payload, 8)};
}

Bytes TelaReceptor::empacotar() const {
  Bytes quadro = Protocolo::cabecalho(TipoMensagem::telaReceptor, tamanho);
  anexarBE(quadro, largura);
  anexarBE(quadro, altura);
  anexarBE(quadro, recursos);
  return quadro;
}

std::optional<Cursor> Cursor::ler(VistaBytes payload) {
  if (payload.size() < tamanho) {
    return std::nullopt;
  }
  const Cursor cursor{lerFloatBE(payload, 0), lerFloatBE(payload, 4), payload[8] == marcaSim};
  if (!finitos({cursor.x, cursor.y})) {
    return std::nullopt;
  }
  return cursor;
}

Bytes Cursor::empacotar() const {
  Bytes quadro = Protocolo::cabecalho(TipoMensagem::cursor, tamanho);
  anexarBE(quadro, x);
  anexarBE(quadro, y);
  quadro.push_back(visivel ? marcaSim : 0);
  return quadro;
}

std::optional<ImagemCursor> ImagemCursor::ler(VistaBytes payload) {
  if (payload.size() <= cabecalho) {
    return std::nullopt;
  }
  const FormaCursor forma{lerFloatBE(payload, 0), lerFloatBE(payload, 4), lerFloatBE(payload, 8),
                          lerFloatBE(payload, 12)};
  if (!finitos({forma.largura, forma.altura, forma.pontaX, forma.pontaY})) {
    return std::nullopt;
  }
  return ImagemCursor{forma, payload.subspan(cabecalho)};
}

Bytes ImagemCursor::empacotar() const {
  Bytes quadro = Protocolo::cabecalho(TipoMensagem::imagemCursor, cabecalho + imagem.size());
  for (float valor : {forma.largura, forma.altura, forma.pontaX, forma.pontaY}) {
    anexarBE(quadro, valor);
  }
  quadro.insert(quadro.end(), imagem.begin(), imagem.end());
  return quadro;
}

std::optional<Exibicao> Exibicao::ler(VistaBytes payload) {
  if (payload.size() < tamanho) {
    return std::nullopt;
  }
  return Exibicao{lerBE<std::uint16_t>(payload, 0)};
}

Bytes Exibicao::empacotar() const {
  Bytes quadro = Protocolo::cabecalho(TipoMensagem::exibicao, tamanho);
  anexarBE(quadro, quadrosPorSegundo);
  return quadro;
}

}  // namespace orbelo::Mensagens
