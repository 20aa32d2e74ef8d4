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
  Bytes mensagem = Protocolo::cabecalho(TipoMensagem::config, tamanho);
  anexarBE(mensagem, largura);
  anexarBE(mensagem, altura);
  return mensagem;
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
  Bytes mensagem = Protocolo::cabecalho(TipoMensagem::parametros, 4 + sps.size() + pps.size());
  for (const Bytes* registro : {&sps, &pps}) {
    anexarBE(mensagem, static_cast<std::uint16_t>(registro->size()));
    mensagem.insert(mensagem.end(), registro->begin(), registro->end());
  }
  return mensagem;
}

std::optional<Quadro> Quadro::ler(VistaBytes payload) {
  if (payload.size() < tamanhoMinimo) {
    return std::nullopt;
  }
  return Quadro{payload[0] == marcaSim, payload.subspan(1)};
}

Bytes Quadro::empacotar() const {
  Bytes mensagem = Protocolo::cabecalho(TipoMensagem::quadro, 1 + unidades.size());
  mensagem.push_back(keyframe ? marcaSim : 0);
  mensagem.insert(mensagem.end(), unidades.begin(), unidades.end());
  return mensagem;
}

std::optional<TelaReceptor> TelaReceptor::ler(VistaBytes payload) {
  if (payload.size() < tamanho) {
    return std::nullopt;
  }
  return TelaReceptor{lerBE<std::uint32_t>(payload, 0), lerBE<std::uint32_t>(payload, 4),
                      lerBE<std::uint32_t>(payload, 8)};
}

Bytes TelaReceptor::empacotar() const {
  Bytes mensagem = Protocolo::cabecalho(TipoMensagem::telaReceptor, tamanho);
  anexarBE(mensagem, largura);
  anexarBE(mensagem, altura);
  anexarBE(mensagem, recursos);
  return mensagem;
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
  Bytes mensagem = Protocolo::cabecalho(TipoMensagem::cursor, tamanho);
  anexarBE(mensagem, x);
  anexarBE(mensagem, y);
  mensagem.push_back(visivel ? marcaSim : 0);
  return mensagem;
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
  Bytes mensagem = Protocolo::cabecalho(TipoMensagem::imagemCursor, cabecalho + imagem.size());
  for (float valor : {forma.largura, forma.altura, forma.pontaX, forma.pontaY}) {
    anexarBE(mensagem, valor);
  }
  mensagem.insert(mensagem.end(), imagem.begin(), imagem.end());
  return mensagem;
}

std::optional<Exibicao> Exibicao::ler(VistaBytes payload) {
  if (payload.size() < tamanho) {
    return std::nullopt;
  }
  return Exibicao{lerBE<std::uint16_t>(payload, 0)};
}

Bytes Exibicao::empacotar() const {
  Bytes mensagem = Protocolo::cabecalho(TipoMensagem::exibicao, tamanho);
  anexarBE(mensagem, quadrosPorSegundo);
  return mensagem;
}

}  // namespace orbelo::Mensagens
