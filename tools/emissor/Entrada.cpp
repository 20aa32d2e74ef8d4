#include "Entrada.hpp"

#include <cmath>

extern "C" {
#include <libavutil/dict.h>
}

namespace orbelo::emissor {

namespace {

struct Aberto {
  FormatoPtr contexto;
  int indice;
};

std::variant<Aberto, std::string> abrirContexto(const std::string& url, const AVInputFormat* formato,
                                                const Entrada::Opcoes& opcoes) {
  // The dictionary lives only across this call, which may replace it with the options it did not use.
  AVDictionary* dicionario = nullptr;
  for (const auto& [nome, valor] : opcoes) {
    av_dict_set(&dicionario, nome.c_str(), valor.c_str(), 0);
  }
  AVFormatContext* contexto = nullptr;
  int erro = avformat_open_input(&contexto, url.c_str(), formato, &dicionario);
  av_dict_free(&dicionario);
  if (erro < 0) {
    return textoErroFfmpeg(erro);
  }
  FormatoPtr dono(contexto);
  if (erro = avformat_find_stream_info(dono.get(), nullptr); erro < 0) {
    return textoErroFfmpeg(erro);
  }
  int indice = av_find_best_stream(dono.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (indice < 0) {
    return std::string("sem vídeo");
  }
  return Aberto{std::move(dono), indice};
}

}  // namespace

Entrada::Entrada(std::string url, const AVInputFormat* formato, Opcoes opcoes, FormatoPtr contexto,
                 int indice)
    : url(std::move(url)),
      formato(formato),
      opcoes(std::move(opcoes)),
      contexto(std::move(contexto)),
      indice(indice) {}

std::variant<Entrada, std::string> Entrada::abrir(const std::string& url, const AVInputFormat* formato,
                                                  const Opcoes& opcoes) {
  auto aberto = abrirContexto(url, formato, opcoes);
  if (auto* erro = std::get_if<std::string>(&aberto)) {
    return *erro;
  }
  auto& [contexto, indice] = std::get<Aberto>(aberto);
  return Entrada(url, formato, opcoes, std::move(contexto), indice);
}

std::optional<int> Entrada::quadrosPorSegundo() const {
  for (AVRational taxa : {fluxo().avg_frame_rate, fluxo().r_frame_rate}) {
    if (taxa.num > 0 && taxa.den > 0) {
      return static_cast<int>(std::lround(av_q2d(taxa)));
    }
  }
  return std::nullopt;
}

int Entrada::ler(AVPacket& pacote) {
  while (true) {
    int erro = av_read_frame(contexto.get(), &pacote);
    if (erro < 0 || pacote.stream_index == indice) {
      return erro;
    }
    av_packet_unref(&pacote);
  }
}

std::optional<std::string> Entrada::recomecar() {
  // Reopening works for every container, including raw streams that cannot seek.
  auto aberto = abrirContexto(url, formato, opcoes);
  if (auto* erro = std::get_if<std::string>(&aberto)) {
    return *erro;
  }
  contexto = std::move(std::get<Aberto>(aberto).contexto);
  indice = std::get<Aberto>(aberto).indice;
  return std::nullopt;
}

}  // namespace orbelo::emissor
